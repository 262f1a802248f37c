// What the web face's benchmarks share: the bridge as a child process on muxsim's pty,
// polling continuously at 9600 baud, with the web face on a loopback port.
#pragma once

#include <muxsim/simulator.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/child_program.h"

namespace bench {

constexpr int kWebCamera = 45;  // on multiplexer 2, the middle of the cycle
constexpr uint32_t kWebBaud = 9600;

// The bridge with the web face on 127.0.0.1:web and the other faces in `more`; null
// (with what it said on stderr) when it did not start.
inline std::unique_ptr<roderavo_test::ChildProgram> StartWebBridge(const muxsim::Simulator& sim,
                                                                   int web,
                                                                   std::vector<std::string> more) {
    using namespace std::chrono_literals;
    std::vector<std::string> args{"bridge",
                                  "--driver",
                                  RODERAVO_DRIVER,
                                  "--port",
                                  sim.PortName(),
                                  "--http",
                                  "127.0.0.1:" + std::to_string(web),
                                  "--poll-interval",
                                  "0",
                                  "--timeout",
                                  "500ms",
                                  "--baud",
                                  std::to_string(kWebBaud)};
    args.insert(args.end(), more.begin(), more.end());
    auto bridge = std::make_unique<roderavo_test::ChildProgram>(
        RODERAVO_TOOL, args, roderavo_test::ChildProgram::Stderr::File);
    for (int i = 0; i < 1000; ++i) {
        if (bridge->Errors().find("web face on") != std::string::npos) return bridge;
        std::this_thread::sleep_for(20ms);
    }
    std::fprintf(stderr, "web_bench: the bridge did not start\n%s", bridge->Errors().c_str());
    return nullptr;
}

}  // namespace bench
