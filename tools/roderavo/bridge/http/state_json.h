// The state document of GET /api/v1/state and of each message of /api/v1/events, in
// the words of the MQTT topics: rendered from the core's picture at a moment, so the
// page, the API, MQTT and Modbus show the same camera the same way.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "bridge/core/picture.h"
#include "output/json_out.h"

namespace roderavo::tool::bridge {

// What the page shows besides the picture.
struct BridgeFacts {
    std::string site, port, version, started;  // started: ISO 8601
    bool writable = false;
};

struct AlarmReportSeen {
    std::string text, time;  // the ALS text, and when it was read (ISO 8601)
};

struct TimedEvent {
    std::string time, text;
};

// {"site", "status", "bridge", "muxes": [...], "cameras": [...], "events": [...]}: every
// multiplexer polled, all 100 cameras (those not polled unknown), the events newest first.
Json StateDocument(const Picture& picture, PollClock::time_point now, const BridgeFacts& facts,
                   const std::map<int, AlarmReportSeen>& reports,
                   const std::vector<TimedEvent>& events);

}  // namespace roderavo::tool::bridge
