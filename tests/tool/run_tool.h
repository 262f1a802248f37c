// Runs the roderavo program as a subprocess with a deadline and collects what it
// printed; the tests never wait a fixed time for it.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "support/child_program.h"

using ToolRun = roderavo_test::ProgramRun;

// The tool with the given arguments; stdin is /dev/null, stdout and stderr pipes.
ToolRun RunTool(const std::vector<std::string>& args,
                std::chrono::milliseconds deadline = std::chrono::seconds(30));

// Polls `probe` until it gives true or the deadline passes.
bool WaitUntil(const std::function<bool()>& probe, std::chrono::milliseconds deadline);
