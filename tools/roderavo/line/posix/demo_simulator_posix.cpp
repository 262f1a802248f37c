#include "line/demo_simulator.h"

namespace roderavo::tool {

void SimulatorStop::operator()(muxsim::Simulator* simulator) const {
    delete simulator;  // its destructor stops it
}

DemoSimulator StartDemoSimulator(const muxsim::Options& options, DemoLine* line,
                                 std::string* error) {
    DemoSimulator simulator(new muxsim::Simulator(options));
    using muxsim::CameraState;
    for (int camera : {3, 27, 45, 62, muxsim::kCameraCount})
        simulator->SetCameraState(camera, CameraState::Alarm);
    for (int camera : {9, 33, 88}) {
        simulator->SetCameraState(camera, CameraState::VideoLoss);
        simulator->SetVideoLoss(camera, true);
    }
    simulator->SetVideoLoss(51, true);
    simulator->SetCameraState(14, CameraState::Unknown);
    if (!simulator->StartOnPty()) {
        *error = "the simulator could not start on a new pseudo-terminal (is /dev/ptmx there?)";
        return nullptr;
    }
    line->portName = simulator->PortName();
    line->devicePath = simulator->DevicePath();
    return simulator;
}

}  // namespace roderavo::tool
