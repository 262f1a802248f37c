// roderavo sites without a broker: retained messages in, the monitoring check's line
// and exit code out, one row per case; the rows named after a fault of the guide's
// "What each fault looks like" are the cells of its `sites --check` table, which is
// held to them.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "sites/sites_render.h"

using namespace roderavo::tool::sites;

namespace {

using Messages = std::vector<std::pair<std::string, std::string>>;

// 2026-05-01T12:00:00Z, the time the rows are judged at.
const WallClock::time_point kNow = *ParseIsoTime("2026-05-01T12:00:00Z");

// A site of two multiplexers as a healthy bridge leaves it, statistics 20 s old.
Messages Healthy(const std::string& site) {
    const std::string p = "roderavo/" + site;
    return {{p + "/status", "online"},
            {p + "/mux/0/state", "ok"},
            {p + "/mux/1/state", "ok"},
            {p + "/camera/1/state", "fine"},
            {p + "/camera/21/state", "fine"},
            {p + "/mux/0/statistics", R"({"reads":3,"time":"2026-05-01T13:59:40.000+02:00"})"},
            {p + "/mux/1/statistics", R"({"reads":3,"time":"2026-05-01T11:58:00.000Z"})"}};
}

Messages With(Messages messages, const Messages& more) {
    messages.insert(messages.end(), more.begin(), more.end());
    return messages;
}

struct Row {
    std::string fault;  // as the guide names it; empty: not in the guide's table
    Messages messages;
    std::vector<std::string> wanted;  // --site
    std::string line;
    int code;
    std::string unknown = {};  // what the connection said, when it failed
};

const std::string kPerfOk =
    " | sites=1;;; online=1;;; offline=0;;; missing=0;;; muxes_not_ok=0;;; alarm=0;;; "
    "video_loss=0;;; unknown=0;;; statistics_age=20s;;;";

std::vector<Row> Rows() {
    const Messages north = Healthy("north");
    return {
        {"", north, {}, "RODERAVO OK - 1 site online" + kPerfOk, 0},
        {"The bridge killed (SIGKILL, power lost)",
         With(north, {{"roderavo/north/status", "offline"}}),
         {},
         "RODERAVO CRITICAL - north offline | sites=1;;; online=0;;; offline=1;;; missing=0;;; "
         "muxes_not_ok=0;;; alarm=0;;; video_loss=0;;; unknown=0;;; statistics_age=20s;;;",
         2},
        {"The bridge stopped (SIGTERM, Ctrl-C)",
         With(north, {{"roderavo/north/status", "offline"}}),
         {},
         "RODERAVO CRITICAL - north offline | sites=1;;; online=0;;; offline=1;;; missing=0;;; "
         "muxes_not_ok=0;;; alarm=0;;; video_loss=0;;; unknown=0;;; statistics_age=20s;;;",
         2},
        {"The broker gone",
         {},
         {},
         "RODERAVO UNKNOWN - cannot connect to the broker localhost:1883: Connection refused",
         3,
         "cannot connect to the broker localhost:1883: Connection refused"},
        {"The line cut (adapter pulled, cable cut)",
         With(north, {{"roderavo/north/mux/0/state", "demoted"},
                      {"roderavo/north/mux/1/state", "demoted"},
                      {"roderavo/north/camera/1/state", "unknown"},
                      {"roderavo/north/camera/21/state", "unknown"}}),
         {},
         "RODERAVO WARNING - north mux 0 demoted, north mux 1 demoted, north 2 cameras unknown | "
         "sites=1;;; online=1;;; offline=0;;; missing=0;;; muxes_not_ok=2;;; alarm=0;;; "
         "video_loss=0;;; unknown=2;;; statistics_age=20s;;;",
         1},
        {"One multiplexer absent",
         With(north, {{"roderavo/north/mux/4/state", "absent"}}),
         {},
         "RODERAVO WARNING - north mux 4 absent | sites=1;;; online=1;;; offline=0;;; "
         "missing=0;;; muxes_not_ok=1;;; alarm=0;;; video_loss=0;;; unknown=0;;; "
         "statistics_age=20s;;;",
         1},
        {"The port held by another program",
         {},
         {"north"},
         "RODERAVO CRITICAL - north missing | sites=1;;; online=0;;; offline=0;;; missing=1;;; "
         "muxes_not_ok=0;;; alarm=0;;; video_loss=0;;; unknown=0;;;",
         2},
        {"A camera's state unknown to the multiplexer (state byte 0xFE)",
         With(north, {{"roderavo/north/camera/21/state", "unknown"}}),
         {},
         "RODERAVO OK - 1 site online, north 1 camera unknown" +
             std::string(kPerfOk).replace(kPerfOk.find("unknown=0"), 9, "unknown=1"),
         0},
        // JSON payloads: a camera in alarm that has lost its video counts in both.
        {"",
         With(north, {{"roderavo/north/camera/1/state",
                       R"({"camera":1,"mux":0,"state":"alarm","alarm":true,"videoLoss":true})"},
                      {"roderavo/north/mux/1/state", R"({"mux":1,"state":"ok","lastError":""})"}}),
         {},
         "RODERAVO WARNING - north 1 camera in video loss, north 1 camera in alarm | sites=1;;; "
         "online=1;;; offline=0;;; missing=0;;; muxes_not_ok=0;;; alarm=1;;; video_loss=1;;; "
         "unknown=0;;; statistics_age=20s;;;",
         1},
        // --site narrows; what the broker removed (an empty payload) is gone; topics and
        // payloads of no known shape are left alone, a site without a status is none.
        {"",
         With(With(north, Healthy("south")),
              {{"roderavo/south/status", ""},
               {"roderavo/north/mux/7/state", "absent"},
               {"roderavo/north/camera/101/state", "video-loss"},
               {"roderavo/north/mux/0/statistics", "not json"},
               {"roderavo/north/mux/1/statistics", R"({"time":"2026-13-01T00:00:00Z"})"},
               {"roderavo//status", "online"},
               {"other/west/status", "online"}}),
         {"north", "south", "north"},
         "RODERAVO CRITICAL - south missing | sites=2;;; online=1;;; offline=0;;; missing=1;;; "
         "muxes_not_ok=0;;; alarm=0;;; video_loss=0;;; unknown=0;;;",
         2},
        {"", {}, {}, "RODERAVO UNKNOWN - no site has a status under roderavo/+/status", 3},
    };
}

std::vector<SiteSummary> Fed(const Row& row) {
    SitesModel model;
    for (const auto& [topic, payload] : row.messages) model.Take(topic, payload);
    return Summarize(model.Sites(), row.wanted, kNow);
}

std::string Guide() {
    std::ifstream in(GUIDE_FILE);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

TEST(Sites, TheCheckSaysEachCaseInOneLineWithItsExitCode) {
    const std::string guide = Guide();
    for (const Row& row : Rows()) {
        const CheckLine check =
            row.unknown.empty() ? Check(Fed(row), "roderavo") : Unknown(row.unknown);
        EXPECT_EQ(check.text, row.line) << row.fault;
        EXPECT_EQ(check.ExitCode(), row.code) << row.fault;
        if (row.fault.empty()) continue;
        // A table's cell has its | escaped, in a code span too.
        std::string line;
        for (const char c : row.line) line += c == '|' ? std::string("\\|") : std::string(1, c);
        const std::string cells =
            "| " + row.fault + " | `" + line + "` | " + std::to_string(row.code) + " |";
        EXPECT_NE(guide.find(cells), std::string::npos) << "the guide lacks: " << cells;
    }
}

TEST(Sites, TheTableAndJsonShowEverySite) {
    const auto rows = Rows();
    Row row = *std::find_if(rows.begin(), rows.end(),
                            [](const Row& r) { return r.fault.starts_with("The line cut"); });
    row.messages = With(row.messages, Healthy("south"));
    row.messages.push_back(
        {"roderavo/south/mux/0/statistics", R"({"time":"2026-05-01T09:00:00Z"})"});
    row.messages.push_back(
        {"roderavo/south/mux/1/statistics", R"({"time":"2026-05-01T09:00:00Z"})"});
    row.wanted = {"east", "north", "south"};
    const auto sites = Fed(row);
    EXPECT_EQ(RenderTable(sites),
              (std::vector<std::string>{
                  "SITE   STATUS   MULTIPLEXERS          ALARM  VIDEO LOSS  UNKNOWN  STATISTICS",
                  "north  online   0 demoted, 1 demoted      0           0        2  20 s ago",
                  "south  online   0 ok, 1 ok                0           0        0  3 h ago",
                  "east   missing  -                         -           -        -  -"}));
    EXPECT_EQ(RenderJson({sites[0], sites[2]}),
              R"([{"site":"north","status":"online","muxes":[{"mux":0,"state":"demoted"},)"
              R"({"mux":1,"state":"demoted"}],"cameras":{"alarm":0,"videoLoss":0,"unknown":2},)"
              R"("statisticsAge":20},{"site":"east","status":"missing","muxes":[],)"
              R"("cameras":{"alarm":0,"videoLoss":0,"unknown":0},"statisticsAge":null}])");
}

TEST(Sites, TimesAreReadAsTheBridgeWritesThemAndNothingElse) {
    const std::vector<std::pair<std::string, std::optional<long long>>> rows = {
        {"2026-05-01T12:00:00Z", 0},
        {"2026-05-01T14:00:00.5+02:00", 500},
        {"2026-05-01T11:59:59.123-0000", -877},
        {"2026-05-01T06:30:00-05:30", 0},
        {"2026-02-30T12:00:00Z", std::nullopt},
        {"2026-05-01T12:00:00", std::nullopt},
        {"2026-05-01T12:00:00+2:00", std::nullopt},
        {"2026-05-01T24:00:00Z", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [text, ms] : rows) {
        const auto time = ParseIsoTime(text);
        ASSERT_EQ(time.has_value(), ms.has_value()) << text;
        if (time) {
            EXPECT_EQ(std::chrono::duration_cast<std::chrono::milliseconds>(*time - kNow).count(),
                      *ms)
                << text;
        }
    }
}
