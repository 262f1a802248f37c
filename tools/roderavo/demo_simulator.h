// The simulator the tool runs in its own process: five multiplexers on a new pty,
// with a few cameras in alarm, in video loss and unknown, so a demonstration shows
// something.
#pragma once

#include <memory>
#include <string>

#include <muxsim/simulator.h>

namespace roderavo::tool {

std::unique_ptr<muxsim::Simulator> StartDemoSimulator(const muxsim::Options& options,
                                                      std::string* error);

}  // namespace roderavo::tool
