// Runs the roderavo program as a subprocess with a deadline and collects what it
// printed; the tests never wait a fixed time for it.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

struct ToolRun {
    int exitCode = -1;  // -1: killed at the deadline
    std::string out;
    std::string err;
};

// The tool with the given arguments; stdin is /dev/null, stdout and stderr pipes.
ToolRun RunTool(const std::vector<std::string>& args,
                std::chrono::milliseconds deadline = std::chrono::seconds(30));

// Polls `probe` until it gives true or the deadline passes.
bool WaitUntil(const std::function<bool()>& probe, std::chrono::milliseconds deadline);

// The tool started in the background with stdout on a pipe; stop it by its pid.
struct BackgroundTool {
    int pid = -1;
    int out = -1;
};
BackgroundTool StartTool(const std::vector<std::string>& args);
// One line of its stdout (without the line feed), or empty at the deadline.
std::string ReadLine(const BackgroundTool& tool, std::chrono::milliseconds deadline);
// SIGTERM, then its exit code (-1 when it had to be killed).
int StopTool(BackgroundTool& tool, std::chrono::milliseconds deadline);
