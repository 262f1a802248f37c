// A line of the bridge's own, on stderr (and in the --log file) with its time:
// "2026-12-08 10:15:02.123 roderavo: TEXT". Safe from any thread.
#pragma once

#include <string>

namespace roderavo::tool::bridge {

void Say(const std::string& text);

}  // namespace roderavo::tool::bridge
