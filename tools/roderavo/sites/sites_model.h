// What the broker keeps of every site's bridge, read back: each site's status, the
// state of its multiplexers and cameras, and the time of its last statistics. Fed
// one message at a time (topic and payload, plain or JSON as the bridge sends them),
// it holds no connection and reads no clock of its own.
#pragma once
#define RODERAVO_TREE_SITES_MODEL_H 1  // the tree's own copy, as the layer probes ask

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace roderavo::tool::sites {

using WallClock = std::chrono::system_clock;

// The topic root when none is given: a site's prefix is roderavo/SITE.
inline constexpr std::string_view kDefaultRoot = "roderavo";

struct CameraSeen {
    bool alarm = false;
    bool videoLoss = false;
    bool unknown = false;
};

struct SiteSeen {
    std::string status;                               // "online", "offline", or what was retained
    std::map<int, std::string> muxes;                 // the state of each multiplexer
    std::map<int, CameraSeen> cameras;                // by camera number
    std::map<int, WallClock::time_point> statistics;  // each multiplexer's, by its time
};

class SitesModel {
  public:
    explicit SitesModel(std::string root = std::string(kDefaultRoot)) : root_(std::move(root)) {}

    // The filters that bring every message the model reads.
    std::vector<std::string> Filters() const;
    // One message: a retained state, or a change of one. An empty payload removes what
    // the topic held; a topic or payload the model does not know is left alone (false).
    bool Take(std::string_view topic, std::string_view payload);
    // The sites with a status, by name.
    std::map<std::string, SiteSeen> Sites() const;

  private:
    std::string root_;
    std::map<std::string, SiteSeen> sites_;
};

// An ISO 8601 time as the bridge writes it ("2026-05-01T12:34:56.789+02:00", or with Z);
// nothing when it is not one.
std::optional<WallClock::time_point> ParseIsoTime(std::string_view text);

}  // namespace roderavo::tool::sites
