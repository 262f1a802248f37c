// The site file (--config): a site's port, line settings, multiplexers and log file in
// TOML, read into the same options the command line fills. What the command line
// gives wins over the file.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "commands/commands.h"

namespace roderavo::tool {

// Whether the command line gave the option of that name ("--port").
using OptionGiven = std::function<bool(std::string_view option)>;

// The keys of a site file, for messages and the guide.
inline constexpr const char* kSiteKeys =
    "port, baud, data_bits, parity, stop_bits, timeout, poll_interval, muxes, log, instance, "
    "driver";

// Reads the site file at `path` and sets every option it holds that the command line
// did not give. False with a message naming the file (and the line and key) when the
// file cannot be read, is not TOML, or holds an unknown key or a value of the wrong
// kind; then nothing is set. The values are judged further where the command line's
// are (ParseLineOptions).
bool LoadSiteConfig(const std::string& path, const OptionGiven& given, CommonOptions* common,
                    PollOptions* poll, std::string* error);

}  // namespace roderavo::tool
