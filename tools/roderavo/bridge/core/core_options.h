// The core's own options (how long a command may wait for the line), one table for
// the command line and the site file, and the settings they are judged into.
#pragma once

#include <chrono>
#include <optional>
#include <span>
#include <string>

#include "bridge/core/command_queue.h"
#include "bridge/core/face_options.h"

namespace roderavo::tool::bridge {

struct CoreOptions {
    std::string commandDeadline = "2s";  // a command not started by then is not sent
};

struct CoreSettings {
    std::chrono::milliseconds commandDeadline = kCommandDeadline;
};

std::span<const FaceOption<CoreOptions>> CoreOptionTable();
void AddCoreOptions(CLI::App* command, CoreOptions& options);
// Nothing, with the reason said, when a value is wrong.
std::optional<CoreSettings> JudgeCore(const CoreOptions& options);

}  // namespace roderavo::tool::bridge
