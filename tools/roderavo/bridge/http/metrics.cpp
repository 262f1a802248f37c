#include "bridge/http/metrics.h"

namespace roderavo::tool::bridge {

std::string MetricsText(const Picture&, PollClock::time_point, std::string_view version) {
    return "# HELP roderavo_build_info The bridge's version.\n"
           "# TYPE roderavo_build_info gauge\n"
           "roderavo_build_info{version=\"" +
           std::string(version) + "\"} 1\n";
}

}  // namespace roderavo::tool::bridge
