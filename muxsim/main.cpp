// muxsim: serves simulated multiplexers on a new pty or a serial device until SIGINT or
// SIGTERM. Prints the port name alone on one line once it serves.
#include <cli_style.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <CLI/CLI.hpp>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "cli_options.h"
#include "simulator.h"

namespace {

template <typename Parser>
std::function<std::string(const std::string&)> Checked(Parser parse, std::string what,
                                                       std::string help = "") {
    return [parse, what, help](const std::string& text) -> std::string {
        if (parse(text)) return {};
        return "not a valid " + what + ": " + text + (help.empty() ? "" : "; " + help);
    };
}

constexpr int kExitCannotServe = 2;

// Why a device cannot be served, or "" when it can: it must open for reading and
// writing, and be a terminal (a serial port, a pty, a USB adapter).
std::string DeviceProblem(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return std::strerror(errno);
    const bool terminal = isatty(fd) != 0;
    struct stat st {};
    const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    close(fd);
    if (terminal) return {};
    return regular ? "it is a regular file, not a serial device" : "it is not a terminal device";
}

// What the command line asks of the simulator.
struct Settings {
    std::string device;
    std::string muxList = "0,1,2,3,4";
    std::vector<std::string> alarms;
    std::vector<int> videoLoss;
    std::string version;
    std::string clockText;
    bool frozenClock = false;
    uint32_t baud = 0;
    bool trace = false;
    std::vector<std::string> faults;
    uint64_t seed = 0;
};

void AddOptions(CLI::App& app, Settings& s) {
    using namespace muxsim;
    app.add_option("--device", s.device, "Serve this serial device instead of a new pty");
    app.add_option("--mux", s.muxList, "The multiplexers present, e.g. 0,1,2 (default: all)")
        ->check(Checked(ParseMuxList, "multiplexer list"));
    app.add_option("--alarm", s.alarms,
                   "CAMERA[=STATE]: a camera (1..100) in alarm; STATE is Alarm (default), "
                   "Video-Loss, Unknown or None")
        ->check(Checked(ParseAlarm, "camera (1..100) and state"));
    app.add_option("--video-loss", s.videoLoss, "A camera (1..100) that has lost its video")
        ->check(roderavo::cli::WholeNumber(1, kCameraCount));
    app.add_option("--mux-version", s.version, "The version text of every multiplexer");
    app.add_option("--clock", s.clockText, "The clocks' start, YYYY-MM-DD HH:MM:SS (default: now)")
        ->check(Checked(ParseClockText, "clock"));
    app.add_flag("--frozen-clock", s.frozenClock, "The clocks stand still");
    app.add_option("--baud", s.baud,
                   "Pace the line at this speed, requests and replies (10 bits a byte)");
    app.add_flag("--trace", s.trace, "Describe every frame in both directions on stderr");
    app.add_option("--fault", s.faults,
                   "KIND[:N][@P]: KIND is no-answer, bad-checksum, wrong-source, wrong-command, "
                   "ack-status, split, delay, trickle (N ms) or garbage (N bytes); it strikes "
                   "each answer with probability P (default 1)")
        ->check(Checked(ParseFaultSpec, "fault", kFaultHelp));
    app.add_option("--seed", s.seed, "Seed of the random faults");
}

muxsim::Options OptionsOf(const Settings& s) {
    using namespace muxsim;
    Options options;
    options.present = *ParseMuxList(s.muxList);
    options.baud = s.baud;
    options.trace = s.trace;
    options.seed = s.seed;
    options.clockMode = s.frozenClock ? ClockMode::Frozen : ClockMode::Running;
    options.keptFrames = kLongRunKeptFrames;
    for (const std::string& fault : s.faults)
        options.randomFaults.push_back(*ParseFaultSpec(fault));
    return options;
}

// The multiplexers as the command line sets them up: versions, clocks, alarms.
void SetUp(muxsim::Simulator& simulator, const Settings& s) {
    using namespace muxsim;
    for (int mux = 0; mux < kMuxCount; ++mux) {
        if (!s.version.empty()) simulator.SetVersion(mux, s.version);
        if (!s.clockText.empty()) simulator.SetClock(mux, *ParseClockText(s.clockText));
    }
    for (const std::string& alarm : s.alarms) {
        const auto [camera, state] = *ParseAlarm(alarm);
        simulator.SetCameraState(camera, state);
    }
    for (const int camera : s.videoLoss) simulator.SetVideoLoss(camera, true);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace muxsim;
    CLI::App app{
        "muxsim: simulated Amux 20CD video multiplexers on a serial line.\n"
        "Exit codes: 0 stopped by SIGINT or SIGTERM, 1 a wrong command line, 2 the pty or the "
        "device could not be served."};
    roderavo::cli::UseStyle(app, "muxsim");
    app.set_version_flag("--version", std::string("muxsim ") + RODERAVO_VERSION);
    Settings settings;
    AddOptions(app, settings);
    if (const int code = roderavo::cli::Parse(app, "muxsim", argc, argv); code >= 0) return code;
    const std::string& device = settings.device;
    if (!device.empty()) {
        if (const std::string problem = DeviceProblem(device); !problem.empty()) {
            std::fprintf(stderr, "muxsim: cannot serve %s: %s\n", device.c_str(), problem.c_str());
            return kExitCannotServe;
        }
    }

    // The signals are taken by sigwait below, on this thread only.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    Simulator simulator(OptionsOf(settings));
    SetUp(simulator, settings);
    const bool started = device.empty() ? simulator.StartOnPty() : simulator.StartOnDevice(device);
    if (!started) {
        std::fprintf(stderr, "muxsim: cannot serve %s: %s\n",
                     device.empty() ? "a new pty" : device.c_str(),
                     device.empty() ? "no pseudo-terminal could be made (is /dev/ptmx there?)"
                                    : "its line settings could not be applied");
        return kExitCannotServe;
    }
    std::printf("%s\n", simulator.PortName().c_str());
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    simulator.Stop();
    return 0;
}
