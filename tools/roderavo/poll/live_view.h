// The picture of the polled multiplexers: one row per multiplexer with twenty camera
// cells, its version, clock and state; a legend and the last error. In colour for a
// terminal that shows it, plain text otherwise.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "poll/poller.h"

namespace roderavo::tool {

enum class CameraLook { NotRead, Fine, Alarm, VideoLoss, Unknown };

// One camera at a glance: alarm first, then video loss (from either list), then unknown.
CameraLook LookOf(const std::optional<uint8_t>& alarm, const std::optional<uint8_t>& videoLoss);
char CellChar(CameraLook look);

struct ViewHeader {
    std::string port;
    int pollIntervalMs = 0;
    uint64_t cycle = 0;
    std::string time;          // wall clock of the picture
    bool interactive = false;  // shows how to stop
    int timeoutMs = 0;
    PollClock::time_point now{};  // for the age of each multiplexer's data
    std::chrono::milliseconds staleAfter{0};
    std::string lastEvent;  // the latest demotion, recovery or staleness
};

// The rows, each a line without its line feed.
std::vector<std::string> RenderView(const ViewHeader& header, const std::vector<MuxView>& muxes,
                                    const std::string& lastError, bool colour);

// The statistics table printed when polling ends: per multiplexer the gate reads and,
// from the protocol tap, what the line did (frames, retries, time-outs, bad replies).
// The line columns show "-" when the frames were not counted (no protocol tap).
std::vector<std::string> RenderStatistics(const std::vector<MuxView>& muxes, uint64_t cycles,
                                          double seconds, const std::string& port,
                                          bool lineCounted = true);

// Whether stdout is a terminal that shows colour (and NO_COLOR is not set).
bool TerminalHasColour();

}  // namespace roderavo::tool
