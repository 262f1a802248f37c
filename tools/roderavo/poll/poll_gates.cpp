#include "poll/poll_gates.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <iostream>
#include <optional>

#include "address/camera_range.h"
#include "output/json_out.h"
#include "output/text.h"
#include "platform/pause.h"
#include "poll/live_view.h"
#include "protocol/exchange.h"

namespace roderavo::tool {

namespace {

// A figure to the tenth (`per` 10) or thousandth (1000), as the text shows it.
double Rounded(double value, double per) {
    return std::round(value * per) / per;
}

void PrintJsonStatistics(const std::vector<MuxView>& muxes, uint64_t cycles, double seconds,
                         bool lineCounted, const Json& more) {
    Json statistics = Json::array();
    for (const MuxView& view : muxes) statistics.push_back(StatisticsRecord(view, lineCounted));
    Json record = TimedRecord();
    record["statistics"] = statistics;
    record["cycles"] = cycles;
    record["seconds"] = Rounded(seconds, 1000);
    for (const auto& [key, value] : more.items()) record[key] = value;
    PrintJsonLine(record);
}

}  // namespace

Json StatisticsRecord(const MuxView& view, bool lineCounted) {
    const LineCounts& line = view.line;
    auto counted = [lineCounted](auto value) { return lineCounted ? Json(value) : Json(nullptr); };
    return {{"mux", view.mux},
            {"requests", view.requests},
            {"good", view.good},
            {"errors", view.errors},
            {"loss", Rounded(LossPercent(view), 10)},
            {"frames", counted(line.requests)},
            {"retries", counted(line.retries)},
            {"timeouts", counted(line.timeouts)},
            {"badChecksums", counted(line.badChecksums)},
            {"wrongSource", counted(line.wrongSource)},
            {"refused", counted(line.refused)},
            {"otherBad", counted(line.otherBad)},
            {"lineLoss", counted(Rounded(LineLossPercent(line), 10))},
            {"state", MuxStateName(view.state)}};
}

bool BindMuxGates(Session& session, const std::vector<int>& muxes, std::vector<MuxGates>* gates) {
    for (int mux : muxes) {
        if (mux < 0 || mux >= kMuxCount) {
            Complain("--mux takes multiplexer numbers 0.." + std::to_string(kMuxCount - 1));
            return false;
        }
        std::string why;
        const std::string digit = std::to_string(mux);
        std::array<std::optional<BoundGate>, 4> bound;
        const char* words[] = {"VER", "TAD", "AAS", "VLS"};
        for (std::size_t i = 0; i < bound.size(); ++i) {
            bound[i] = session.Bind(words[i] + digit, &why);
            if (!bound[i]) {
                Complain("the driver refused the address " + std::string(words[i]) + digit +
                         ": is --driver the roderavo driver?");
                return false;
            }
        }
        gates->push_back(MuxGates{*bound[0], *bound[1], *bound[2], *bound[3]});
    }
    return true;
}

GateOutcome ReadPollGate(Session& session, const BoundGate& gate) {
    const ReadResult result = session.Read(gate);
    GateOutcome outcome;
    outcome.status = result.status;
    outcome.malformed = result.malformed;
    outcome.text = result.text;
    outcome.logLine = result.logLine;
    for (std::size_t i = 0; i < result.companions.size() && i < outcome.cameras.size(); ++i) {
        const auto& value = result.companions[i].number;
        if (value && *value >= 0 && *value <= 255)
            outcome.cameras[i] = static_cast<uint8_t>(std::lround(*value));
    }
    return outcome;
}

bool PlanPolling(const PollOptions& options, PollSettings* settings) {
    settings->muxes = options.muxes;
    std::sort(settings->muxes.begin(), settings->muxes.end());
    settings->muxes.erase(std::unique(settings->muxes.begin(), settings->muxes.end()),
                          settings->muxes.end());
    settings->demoteAfter = options.demoteAfter;
    const auto demoteMs = ParseDurationMs(options.demoteFor, true);
    if (!demoteMs || options.demoteAfter < 1) {
        Complain("--demote-after takes a count of 1 or more, --demote-for a time such as 10s");
        return false;
    }
    settings->demotedInterval = std::chrono::milliseconds(std::llround(*demoteMs));
    if (const std::string problem = ClockEveryProblem(options.clockEvery); !problem.empty()) {
        Complain("--clock-every " + problem);
        return false;
    }
    const double clockMs = ParseDurationMs(options.clockEvery, true).value_or(0);
    settings->clockEvery = std::chrono::milliseconds(std::llround(clockMs));
    return true;
}

std::string ClockEveryProblem(const std::string& text) {
    if (ParseDurationMs(text, true)) return {};
    return text + ": give a time such as 60s (0: every cycle)";
}

void TimePolling(const Session& session, PollSettings* settings) {
    using std::chrono::milliseconds;
    settings->interval = milliseconds(session.PollIntervalMs());
    settings->failedRead =
        kAttempts * milliseconds(session.TimeoutMs() + static_cast<int>(kRetryPauseMs));
}

void PrintStatistics(const CommonOptions& options, const Session& session,
                     std::vector<MuxView> muxes, uint64_t cycles, double seconds,
                     const Json& more) {
    for (MuxView& view : muxes) view.line = session.LineCountsOf(view.mux);
    if (options.json) {
        PrintJsonStatistics(muxes, cycles, seconds, session.Tapped(), more);
        return;
    }
    for (const auto& line :
         RenderStatistics(muxes, cycles, seconds, session.PortLabel(), session.Tapped()))
        std::cout << line << '\n';
}

}  // namespace roderavo::tool
