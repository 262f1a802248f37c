// The bridge's metrics in the Prometheus text format (GET /metrics): the picture's
// multiplexers and cameras, the core's counters, and the process's own figures.
#pragma once

#include <string>
#include <string_view>

#include "bridge/core/picture.h"

namespace roderavo::tool::bridge {

std::string MetricsText(const Picture& picture, PollClock::time_point now,
                        std::string_view version);

}  // namespace roderavo::tool::bridge
