// The process's own figures, as every Prometheus exporter gives them: its resident
// memory, the processor time it used, when it started and its open descriptors, read
// from /proc. A figure that cannot be read is left out.
#pragma once

#include <optional>
#include <string_view>

namespace roderavo::tool::bridge {

struct ProcessFigures {
    std::optional<double> residentBytes;
    std::optional<double> cpuSeconds;  // user and system
    std::optional<double> startTime;   // seconds since the Unix epoch
    std::optional<double> openFds;
};

// This process's, now.
ProcessFigures OwnFigures();

// The figures in /proc/PID/stat (`stat`) and the boot time in /proc/stat (`system`),
// with the clock ticks per second and the page size; none from a text they do not fit.
ProcessFigures FiguresOf(std::string_view stat, std::string_view system, long ticks, long page);

}  // namespace roderavo::tool::bridge
