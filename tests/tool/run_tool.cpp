#include "run_tool.h"

#include <thread>

ToolRun RunTool(const std::vector<std::string>& args, std::chrono::milliseconds deadline) {
    roderavo_test::ChildProgram tool(RODERAVO_TOOL, args,
                                     roderavo_test::ChildProgram::Stderr::Pipe);
    return tool.Collect(deadline);
}

bool WaitUntil(const std::function<bool()>& probe, std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (std::chrono::steady_clock::now() < end) {
        if (probe()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return probe();
}
