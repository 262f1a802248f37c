#include "sites/sites_summary.h"

#include <algorithm>

namespace roderavo::tool::sites {

namespace {

SiteSummary Summary(const std::string& name, const SiteSeen& seen, WallClock::time_point now) {
    SiteSummary site;
    site.name = name;
    site.status = seen.status;
    site.muxes.assign(seen.muxes.begin(), seen.muxes.end());
    for (const auto& [camera, state] : seen.cameras) {
        site.alarm += state.alarm;
        site.videoLoss += state.videoLoss;
        site.unknown += state.unknown;
    }
    for (const auto& [mux, time] : seen.statistics) {
        // A bridge whose clock runs ahead shows an age of 0, never a negative one.
        const long long age = std::max<long long>(
            0, std::chrono::duration_cast<std::chrono::seconds>(now - time).count());
        site.statisticsAge = std::min(age, site.statisticsAge.value_or(age));
    }
    return site;
}

SiteSummary Missing(const std::string& name) {
    SiteSummary site;
    site.name = name;
    site.status = std::string(kMissing);
    return site;
}

// "1 camera", "2 cameras".
std::string Count(int n, std::string_view one) {
    return std::to_string(n) + " " + std::string(one) + (n == 1 ? "" : "s");
}

std::string Join(const std::vector<std::string>& parts) {
    std::string text;
    for (const std::string& part : parts) text += (text.empty() ? "" : ", ") + part;
    return text;
}

std::string Performance(const std::vector<SiteSummary>& sites) {
    int online = 0, offline = 0, missing = 0, muxesNotOk = 0, alarm = 0, lost = 0, unknown = 0;
    std::optional<long long> oldest;
    for (const SiteSummary& site : sites) {
        online += site.status == "online";
        missing += site.status == kMissing;
        offline += site.status != "online" && site.status != kMissing;
        for (const auto& [mux, state] : site.muxes) muxesNotOk += state != "ok";
        alarm += site.alarm;
        lost += site.videoLoss;
        unknown += site.unknown;
        if (site.statisticsAge) oldest = std::max(*site.statisticsAge, oldest.value_or(0));
    }
    const auto figure = [](std::string_view name, long long value, std::string_view unit = "") {
        return " " + std::string(name) + "=" + std::to_string(value) + std::string(unit) + ";;;";
    };
    std::string data = figure("sites", static_cast<long long>(sites.size())) +
                       figure("online", online) + figure("offline", offline) +
                       figure("missing", missing) + figure("muxes_not_ok", muxesNotOk) +
                       figure("alarm", alarm) + figure("video_loss", lost) +
                       figure("unknown", unknown);
    if (oldest) data += figure("statistics_age", *oldest, "s");
    return data;
}

}  // namespace

std::vector<SiteSummary> Summarize(const std::map<std::string, SiteSeen>& sites,
                                   const std::vector<std::string>& wanted,
                                   WallClock::time_point now) {
    std::vector<SiteSummary> shown;
    for (const auto& [name, seen] : sites)
        if (wanted.empty() || std::find(wanted.begin(), wanted.end(), name) != wanted.end())
            shown.push_back(Summary(name, seen, now));
    for (const std::string& name : wanted)
        if (!sites.contains(name) &&
            std::none_of(shown.begin(), shown.end(), [&](const auto& s) { return s.name == name; }))
            shown.push_back(Missing(name));
    return shown;
}

CheckLine Check(const std::vector<SiteSummary>& sites, std::string_view root) {
    if (sites.empty())
        return Unknown("no site has a status under " + std::string(root) + "/+/status");
    std::vector<std::string> critical, warning, notes;
    int online = 0;
    for (const SiteSummary& site : sites) {
        online += site.status == "online";
        if (site.status != "online") critical.push_back(site.name + " " + site.status);
        for (const auto& [mux, state] : site.muxes)
            if (state != "ok")
                warning.push_back(site.name + " mux " + std::to_string(mux) + " " + state);
        if (site.videoLoss > 0)
            warning.push_back(site.name + " " + Count(site.videoLoss, "camera") + " in video loss");
        if (site.alarm > 0)
            notes.push_back(site.name + " " + Count(site.alarm, "camera") + " in alarm");
        if (site.unknown > 0)
            notes.push_back(site.name + " " + Count(site.unknown, "camera") + " unknown");
    }
    const Verdict verdict = !critical.empty()  ? Verdict::kCritical
                            : !warning.empty() ? Verdict::kWarning
                                               : Verdict::kOk;
    std::vector<std::string> said = critical;
    said.insert(said.end(), warning.begin(), warning.end());
    if (said.empty()) said.push_back(Count(online, "site") + " online");
    said.insert(said.end(), notes.begin(), notes.end());
    static constexpr std::string_view kWords[] = {"OK", "WARNING", "CRITICAL", "UNKNOWN"};
    return {verdict, "RODERAVO " + std::string(kWords[static_cast<int>(verdict)]) + " - " +
                         Join(said) + " |" + Performance(sites)};
}

CheckLine Unknown(const std::string& why) {
    return {Verdict::kUnknown, "RODERAVO UNKNOWN - " + why};
}

}  // namespace roderavo::tool::sites
