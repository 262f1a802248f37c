// roderavo simulate: the multiplexer simulator on a new pty, for use from another
// terminal (roderavo poll --port pts/N).
#include <iostream>
#include <string>

#include <muxsim/cli_options.h>

#include "commands/commands.h"
#include "line/demo_simulator.h"
#include "output/json_out.h"
#include "output/text.h"
#include "system/platform.h"
#include "system/terminal.h"

namespace roderavo::tool {

namespace {

// "five multiplexers", or "two multiplexers (0, 2; 1, 3, 4 absent)".
std::string ServedMultiplexers(const std::array<bool, muxsim::kMuxCount>& present) {
    static const char* const kCounts[] = {"no", "one", "two", "three", "four", "five"};
    std::string served, absent;
    int count = 0;
    for (int mux = 0; mux < muxsim::kMuxCount; ++mux) {
        const bool here = present[static_cast<std::size_t>(mux)];
        count += here ? 1 : 0;
        std::string& list = here ? served : absent;
        list += (list.empty() ? "" : ", ") + std::to_string(mux);
    }
    std::string text =
        std::string(kCounts[count]) + (count == 1 ? " multiplexer" : " multiplexers");
    if (absent.empty()) return text;
    return text + " (" + (served.empty() ? "" : served + "; ") + absent + " absent)";
}

}  // namespace

int RunSimulate(const CommonOptions& options, const SimulateOptions& simulate) {
    InstallStopSignals();
    muxsim::Options simOptions;
    simOptions.trace = simulate.trace;
    simOptions.baud = simulate.baud;
    simOptions.seed = simulate.seed;
    simOptions.keptFrames = muxsim::kLongRunKeptFrames;
    for (const std::string& text : simulate.faults) {
        const auto fault = muxsim::ParseFaultSpec(text);
        if (!fault) {
            Complain("--fault " + text + ": " + kFaultHelp);
            return kExitRefused;
        }
        simOptions.randomFaults.push_back(*fault);
    }
    std::optional<double> durationMs;
    if (!simulate.duration.empty()) {
        durationMs = ParseDurationMs(simulate.duration, true);
        if (!durationMs) {
            Complain("--duration " + simulate.duration + ": give a time such as 60 or 60s");
            return kExitRefused;
        }
    }
    for (int mux : simulate.absent) {
        if (mux < 0 || mux >= muxsim::kMuxCount) {
            Complain("--absent takes multiplexer numbers 0.." +
                     std::to_string(muxsim::kMuxCount - 1));
            return kExitRefused;
        }
        simOptions.present[static_cast<std::size_t>(mux)] = false;
    }
    std::string error;
    DemoLine line;
    DemoSimulator simulator = StartDemoSimulator(simOptions, &line, &error);
    if (!simulator) {
        Complain(error);
        return kHasPseudoTerminals ? kExitLine : kExitRefused;
    }
    if (options.json)
        PrintJsonLine({{"port", line.portName}, {"device", line.devicePath}});
    else
        std::cout << line.portName << std::endl;
    std::cerr << "roderavo: simulating " << ServedMultiplexers(simOptions.present) << " on "
              << line.devicePath << "; use it with --port " << line.portName
              << " from another terminal; Ctrl-C ends it\n";
    if (durationMs)
        SleepUnlessStopped(static_cast<int>(*durationMs));
    else
        while (!StopRequested()) SleepUnlessStopped(1000);
    return kExitOk;  // the simulator stops as it goes
}

}  // namespace roderavo::tool
