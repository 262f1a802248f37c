// The bridge's metrics in the Prometheus text format (GET /metrics): the picture's
// multiplexers and cameras, the core's counters, and the process's own figures.
#pragma once

#include <string>
#include <string_view>

#include "bridge/core/counters.h"
#include "bridge/core/picture.h"
#include "bridge/http/process_figures.h"

namespace roderavo::tool::bridge {

// The metrics now: the picture as the faces show it at `now`, the process's counters
// and its figures from /proc.
std::string MetricsText(const Picture& picture, PollClock::time_point now,
                        std::string_view version);

// The same from the counts and figures given.
std::string MetricsText(const Picture& picture, PollClock::time_point now, std::string_view version,
                        const CountsSeen& counts, const ProcessFigures& process);

}  // namespace roderavo::tool::bridge
