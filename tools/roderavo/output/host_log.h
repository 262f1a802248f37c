// The host library's log as the tool shows it: driver lines go to stderr (traces
// only with -v), optionally to a file, and the lines of the current call are kept
// so that a failure can be explained.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <zanpro/host.h>

namespace roderavo::tool {

struct LogOptions {
    bool verbose = false;  // show trace lines (level 8)
    bool echo = true;      // write lines to stderr (the live view turns it off)
    std::string file;      // also append every line here, when set
};

// Installs the sink into the host library; the library keeps no list of its own.
bool InstallHostLog(const LogOptions& options, std::string* error);
void SetLogEcho(bool echo);

// A line of the tool's own (a frame of the protocol tap, a poll event): on stderr
// while lines are echoed, and into the log file under the level name.
void ToolLine(std::string_view level, std::string_view text);

// The lines logged since the last MarkLog().
void MarkLog();
std::vector<zanpro::LogLine> LinesSinceMark();
// The last line at event level (32) of those, or empty.
std::string LastEventSinceMark();

}  // namespace roderavo::tool
