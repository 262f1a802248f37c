// muxsim on a new pty, steered line by line from stdin, for the tests that drive a
// bridge from another language. It prints the port name alone on the first line, then
// answers each order with one line:
//   camera N STATE     sets camera N (1..100) to None, Alarm, Video-Loss or Unknown: "ok"
//   video-loss N 0|1   sets or clears camera N's video-loss flag: "ok"
//   present M 0|1      multiplexer M (0..4) answers or stays silent: "ok"
//   state              {"present":[...],"states":[...],"videoLoss":[...]} (bytes, camera order)
//   control            [{"mux":1,"command":6,"payload":[53]},...]: the control frames taken
//   release            clears the exclusive mode that a killed program left on the pty: "ok"
// Anything else gets "error ..."; end of input stops it.
#include <fcntl.h>
#include <muxsim/simulator.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <iostream>
#include <sstream>
#include <string>

namespace {

std::string StateText(const muxsim::Simulator& sim) {
    std::ostringstream out;
    out << "{\"present\":[";
    for (int mux = 0; mux < muxsim::kMuxCount; ++mux)
        out << (mux ? "," : "") << (sim.Present(mux) ? "true" : "false");
    out << "],\"states\":[";
    for (int camera = 1; camera <= muxsim::kCameraCount; ++camera)
        out << (camera > 1 ? "," : "") << int{sim.CameraStateByte(camera)};
    out << "],\"videoLoss\":[";
    for (int camera = 1; camera <= muxsim::kCameraCount; ++camera)
        out << (camera > 1 ? "," : "") << int{sim.VideoLossByte(camera)};
    out << "]}";
    return out.str();
}

// A control frame is FF, length, address, command, 3E, 10, payload, checksum.
std::string ControlText(const muxsim::Simulator& sim) {
    std::ostringstream out;
    out << "[";
    bool first = true;
    for (const muxsim::ReceivedFrame& frame : sim.Received()) {
        if (!frame.control || frame.bytes.size() < 7) continue;
        out << (first ? "" : ",") << "{\"mux\":" << frame.mux
            << ",\"command\":" << int{frame.command} << ",\"payload\":[";
        for (std::size_t i = 6; i + 1 < frame.bytes.size(); ++i)
            out << (i > 6 ? "," : "") << int{frame.bytes[i]};
        out << "]}";
        first = false;
    }
    out << "]";
    return out.str();
}

// A port's exclusive mode outlives a program killed on a pty, whose other end stays
// open here; a descriptor of our own, opened before any, can clear it.
int slave = -1;

std::string Obey(muxsim::Simulator& sim, const std::string& line) {
    std::istringstream in(line);
    std::string order, name;
    int number = 0;
    in >> order;
    if (order == "state") return StateText(sim);
    if (order == "control") return ControlText(sim);
    if (order == "release") return ioctl(slave, TIOCNXCL) == 0 ? "ok" : "error: TIOCNXCL";
    if (!(in >> number >> name)) return "error: give a number and a value";
    muxsim::CameraState state{};
    const bool on = name == "1";
    if (order == "camera" && number >= 1 && number <= muxsim::kCameraCount &&
        muxsim::ParseCameraState(name, &state))
        sim.SetCameraState(number, state);
    else if (order == "video-loss" && number >= 1 && number <= muxsim::kCameraCount)
        sim.SetVideoLoss(number, on);
    else if (order == "present" && number >= 0 && number < muxsim::kMuxCount)
        sim.SetPresent(number, on);
    else
        return "error: " + line;
    return "ok";
}

}  // namespace

int main() {
    muxsim::Simulator sim;
    if (!sim.StartOnPty()) {
        std::cerr << "muxsim_console: no pty\n";
        return 2;
    }
    slave = open(sim.DevicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    std::cout << sim.PortName() << std::endl;
    for (std::string line; std::getline(std::cin, line);) std::cout << Obey(sim, line) << std::endl;
    sim.Stop();
    return 0;
}
