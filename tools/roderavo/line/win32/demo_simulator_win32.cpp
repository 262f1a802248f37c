// No built-in simulator on Windows: it serves a pseudo-terminal.
#include "line/demo_simulator.h"
#include "system/platform.h"

namespace roderavo::tool {

void SimulatorStop::operator()(muxsim::Simulator*) const {}  // there is never one

DemoSimulator StartDemoSimulator(const muxsim::Options&, DemoLine*, std::string* error) {
    *error = kNoPseudoTerminals;
    return nullptr;
}

}  // namespace roderavo::tool
