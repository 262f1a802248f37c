// The site file (--config): a site's port, line settings, multiplexers, log file and
// broker in TOML, read into the same options the command line fills. What the command line
// gives wins over the file.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "commands/commands.h"
#ifndef _WIN32
#include "bridge/bridge_options.h"
#endif

namespace roderavo::tool {

// Whether the command line gave the option of that name ("--port").
using OptionGiven = std::function<bool(std::string_view option)>;

// The keys of a site file at its top, and its tables, for messages and the help.
std::string SiteKeys();

// Where the file's values go: the bridge's only when the bridge runs (the other
// commands take a site file with [mqtt] and [ha] and leave those alone).
struct SiteOptions {
    CommonOptions* common;
    PollOptions* poll;
#ifndef _WIN32
    bridge::BridgeOptions* bridge = nullptr;
#endif
};

// Reads the site file at `path` and sets every option it holds that the command line
// did not give: the flat keys of the first site files, and the tables [line], [poll],
// [mqtt], [ha] and [modbus]. Every key is judged by its option's own rule (the line's,
// the polling's, the bridge's), in every table, whichever command runs; a value the
// command line overrides by its kind only. False with a message naming the file, the
// line and the key when the file cannot be read, is not TOML, or holds an unknown
// key, a value of the wrong kind or one its option refuses, or a flat key beside its
// table's twin; then nothing is set.
bool LoadSiteConfig(const std::string& path, const OptionGiven& given, SiteOptions options,
                    std::string* error);

}  // namespace roderavo::tool
