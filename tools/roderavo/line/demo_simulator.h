// The simulator the tool runs in its own process: five multiplexers on a new pty,
// with a few cameras in alarm, in video loss and unknown, so a demonstration shows
// something. It serves a pseudo-terminal: on Windows it fails, and says why.
#pragma once

#include <memory>
#include <string>

#include <muxsim/simulator.h>

namespace roderavo::tool {

// Stops the simulator and frees it.
struct SimulatorStop {
    void operator()(muxsim::Simulator* simulator) const;
};
using DemoSimulator = std::unique_ptr<muxsim::Simulator, SimulatorStop>;

// The line the simulator serves, for the driver's PortName and for messages.
struct DemoLine {
    std::string portName;    // "pts/4"
    std::string devicePath;  // "/dev/pts/4"
};

DemoSimulator StartDemoSimulator(const muxsim::Options& options, DemoLine* line,
                                 std::string* error);

}  // namespace roderavo::tool
