// Each site as it is shown (its status, its multiplexers, its cameras counted, the age
// of its last statistics), and the verdict of a monitoring check over them, by the
// monitoring-plugins convention: one line, exit 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN.
#pragma once
#define RODERAVO_TREE_SITES_SUMMARY_H 1  // the tree's own copy, as the layer probes ask

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sites/sites_model.h"

namespace roderavo::tool::sites {

// The status of a site named with --site that has none on the broker.
inline constexpr std::string_view kMissing = "missing";

struct SiteSummary {
    std::string name;
    std::string status;                              // online, offline, missing
    std::vector<std::pair<int, std::string>> muxes;  // each multiplexer's state
    int alarm = 0, videoLoss = 0, unknown = 0;       // cameras
    std::optional<long long> statisticsAge;          // seconds since the youngest statistics
};

// The sites by name; with `wanted` only those, a missing one among them too.
std::vector<SiteSummary> Summarize(const std::map<std::string, SiteSeen>& sites,
                                   const std::vector<std::string>& wanted,
                                   WallClock::time_point now);

enum class Verdict { kOk = 0, kWarning = 1, kCritical = 2, kUnknown = 3 };

struct CheckLine {
    Verdict verdict;
    std::string text;  // without a line feed
    int ExitCode() const { return static_cast<int>(verdict); }
};

// A site offline or missing is CRITICAL; a multiplexer not ok or a camera in video loss
// a WARNING; no site at all (none named) UNKNOWN. `root` names where none was found.
CheckLine Check(const std::vector<SiteSummary>& sites, std::string_view root);
// What could not be checked (no broker, a time-out).
CheckLine Unknown(const std::string& why);

}  // namespace roderavo::tool::sites
