// The soak: long runs of the driver against the multiplexer simulator, not part of
// the test run (`./run soak [exchanges]`).
//
// 1. Exchanges (100,000 by default) of reads and writes through KorMain against
//    muxsim on a pty with seeded random faults: no read that succeeds may give a
//    wrong value; descriptors and resident memory stay flat.
// 2. 1,000 unplug/replug cycles: the simulator's pty goes away under the open
//    port, a read fails, a new pty comes, SetPort (or ClosePort and SetPort) moves
//    the port to it, a read succeeds; the descriptor count ends where it began.
// 3. 10,000 poll cycles of `roderavo poll --simulate` (the tool's own simulator,
//    as the bridge's): its resident memory stays flat.
#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>
#include <roderavo/kor.h>
#include <zanpro/host.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "muxsim/simulator.h"

namespace {

constexpr int32_t kInstance = 4;
constexpr int32_t kPollInterval = 2;  // a read time-out of 20 ms

int OpenDescriptors() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir) != nullptr) ++count;
        closedir(dir);
    }
    return count - 3;  // ".", ".." and the directory's own descriptor
}

long ResidentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

struct Driver {
    DriverContext context{};
    int32_t Call(uint32_t function, void* params) {
        KorCall call{&context, function, kInstance, 0, params};
        return KorMain(&call);
    }
    int32_t Init(const std::string& port) {
        InitParams params{};
        std::snprintf(params.PortName, sizeof params.PortName, "%s", port.c_str());
        params.OpenRequested = 1;
        params.PollInterval = kPollInterval;
        params.BaudRate = 57600;
        params.DataBits = 8;
        return Call(KOR_FUNC_INIT, &params);
    }
    int32_t SetPort(const std::string& port) {
        SetPortParams params{};
        std::snprintf(params.PortName, sizeof params.PortName, "%s", port.c_str());
        params.PollInterval = kPollInterval;
        params.BaudRate = 57600;
        params.DataBits = 8;
        return Call(KOR_FUNC_SET_PORT, &params);
    }
    int32_t ReadText(const char* address, int32_t plc, int32_t access, std::string& text) {
        std::array<char, 64> buffer{};
        GateParams gate{address, 0, plc, access, 0, -1, 16, KOR_VALUE_TEXT, 0, 0, buffer.data()};
        const int32_t result = Call(KOR_FUNC_SINGLE_READ, &gate);
        text = buffer.data();
        return result;
    }
    int32_t ReadNumber(const char* address, int32_t plc, uint16_t& number) {
        KorNumberValue value{0, number};
        GateParams gate{address, 0, plc,   KOR_ACCESS_READ_ONLY, 0, -1, 16, KOR_VALUE_NUMBER,
                        0,       0, &value};
        const int32_t result = Call(KOR_FUNC_SINGLE_READ, &gate);
        number = value.Number;
        return result;
    }
    int32_t WriteKey(const char* address, int32_t plc, uint16_t key) {
        KorNumberValue value{0, key};
        GateParams gate{address, 0, plc,   KOR_ACCESS_WRITE_ONLY, 0, -1, 16, KOR_VALUE_NUMBER,
                        0,       0, &value};
        return Call(KOR_FUNC_SINGLE_WRITE, &gate);
    }
};

std::string Camera(const char* word, int mux, int camera) {
    char name[16];
    std::snprintf(name, sizeof name, camera == 100 ? "%s%d%d" : "%s%d%02d", word, mux, camera);
    return name;
}

struct Tally {
    long ok = 0, failed = 0, wrong = 0;
};

int Exchanges(long count) {
    muxsim::Options options;
    options.seed = 20261207;
    options.keptFrames = 16;
    options.clockMode = muxsim::ClockMode::Frozen;
    const auto every = [](muxsim::FaultKind kind, double p, int ms = 0, int n = 0) {
        return muxsim::RandomFault{muxsim::Fault{kind, ms, n, {}}, p};
    };
    options.randomFaults = {every(muxsim::FaultKind::NoAnswer, 0.003),
                            every(muxsim::FaultKind::BadChecksum, 0.005),
                            every(muxsim::FaultKind::WrongSource, 0.003),
                            every(muxsim::FaultKind::WrongCommand, 0.003),
                            every(muxsim::FaultKind::AckStatus, 0.003),
                            every(muxsim::FaultKind::Garbage, 0.003, 0, 5),
                            every(muxsim::FaultKind::SplitReply, 0.003, 5),
                            every(muxsim::FaultKind::Delay, 0.002, 60),
                            every(muxsim::FaultKind::Trickle, 0.001, 15)};
    muxsim::Simulator sim(options);
    if (!sim.StartOnPty()) return std::fprintf(stderr, "soak: no pty for the simulator\n"), 1;
    Driver driver;
    if (driver.Init(sim.PortName()) != KOR_OK)
        return std::fprintf(stderr, "soak: Init failed\n"), 1;
    std::vector<uint32_t> sac(101), svc(101);
    for (int camera = 1; camera <= 100; ++camera) {
        const int mux = (camera - 1) / 20;
        sac[static_cast<std::size_t>(camera)] =
            zanpro::AddGate(kInstance, Camera("SAC", mux, camera));
        svc[static_cast<std::size_t>(camera)] =
            zanpro::AddGate(kInstance, Camera("SVC", mux, camera));
    }
    std::mt19937 random(7);
    constexpr muxsim::CameraState kStates[] = {
        muxsim::CameraState::None, muxsim::CameraState::Alarm, muxsim::CameraState::VideoLoss,
        muxsim::CameraState::Unknown};
    Tally tally;
    int descriptorsAtStart = 0;
    long rssAtStart = 0, rssMax = 0;
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < count; ++i) {
        if (i == count / 10) {  // after the warm-up
            descriptorsAtStart = OpenDescriptors();
            rssAtStart = ResidentKb();
        }
        if (i > count / 10 && i % 1000 == 0) rssMax = std::max(rssMax, ResidentKb());
        const int mux = static_cast<int>(random() % 5);
        const std::string m = std::to_string(mux);
        bool right = true;
        int32_t result = 0;
        switch (random() % 20) {
            case 0: {  // a key, acknowledged
                result = driver.WriteKey(("KEY" + m).c_str(), mux, 53);
                break;
            }
            case 1:
            case 2:
            case 3:
            case 4: {  // the version text, changed now and then
                const std::string version = "V" + std::to_string(random() % 1000);
                sim.SetVersion(mux, version);
                std::string text;
                result = driver.ReadText(("VER" + m).c_str(), mux, KOR_ACCESS_READ_ONLY, text);
                right = text == version;
                break;
            }
            case 5:
            case 6:
            case 7:
            case 8:
            case 9:
            case 10:
            case 11: {  // the alarm states of the twenty cameras
                for (int c = 20 * mux + 1; c <= 20 * mux + 20; ++c)
                    sim.SetCameraState(c, kStates[random() % 4]);
                uint16_t done = 0;
                result = driver.ReadNumber(("AAS" + m).c_str(), mux, done);
                for (int c = 20 * mux + 1; c <= 20 * mux + 20 && result == KOR_OK; ++c)
                    right = right && zanpro::GateValue(sac[static_cast<std::size_t>(c)]) ==
                                         double(sim.CameraStateByte(c));
                right = right && (result != KOR_OK || done == 1);
                break;
            }
            case 12:
            case 13:
            case 14:
            case 15: {  // the video-loss flags
                for (int c = 20 * mux + 1; c <= 20 * mux + 20; ++c)
                    sim.SetVideoLoss(c, random() % 2);
                uint16_t done = 0;
                result = driver.ReadNumber(("VLS" + m).c_str(), mux, done);
                for (int c = 20 * mux + 1; c <= 20 * mux + 20 && result == KOR_OK; ++c)
                    right = right && zanpro::GateValue(svc[static_cast<std::size_t>(c)]) ==
                                         double(sim.VideoLossByte(c));
                break;
            }
            default: {  // one camera's alarm state
                const int camera = 20 * mux + 1 + static_cast<int>(random() % 20);
                sim.SetCameraState(camera, kStates[random() % 4]);
                uint16_t state = 0x7777;
                result = driver.ReadNumber(Camera("ALS", mux, camera).c_str(), mux, state);
                right = state == (result == KOR_OK ? sim.CameraStateByte(camera) : 0x7777);
            }
        }
        if (result == KOR_OK)
            ++tally.ok;
        else
            ++tally.failed;
        if (result == KOR_OK && !right) ++tally.wrong;
        zanpro::ClearLog();
    }
    const long seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start)
            .count();
    const int descriptors = OpenDescriptors();
    const long rss = ResidentKb();
    driver.Call(KOR_FUNC_EXIT, nullptr);
    std::printf("exchanges: %ld in %ld s: %ld succeeded, %ld failed on faults, %ld wrong values\n",
                count, seconds, tally.ok, tally.failed, tally.wrong);
    std::printf("descriptors: %d after the warm-up, %d at the end\n", descriptorsAtStart,
                descriptors);
    std::printf("resident memory: %ld kB after the warm-up, %ld kB at most, %ld kB at the end\n",
                rssAtStart, std::max(rssMax, rss), rss);
    const bool flat = descriptors == descriptorsAtStart && rss - rssAtStart < 1024;
    return tally.wrong == 0 && tally.ok > count * 9 / 10 && flat ? 0 : 1;
}

int Replugs(int cycles) {
    Driver driver;
    const int descriptorsAtStart = OpenDescriptors();
    auto sim = std::make_unique<muxsim::Simulator>();
    if (!sim->StartOnPty() || driver.Init(sim->PortName()) != KOR_OK)
        return std::fprintf(stderr, "soak: Init failed\n"), 1;
    int good = 0, unplugged = 0;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        std::string text;
        if (driver.ReadText("VER0", 0, KOR_ACCESS_READ_ONLY, text) == KOR_OK &&
            text == sim->Version(0))
            ++good;
        sim.reset();  // unplugged: the pty closes under the open port
        if (driver.ReadText("VER0", 0, KOR_ACCESS_READ_ONLY, text) != KOR_OK) ++unplugged;
        sim = std::make_unique<muxsim::Simulator>();
        if (!sim->StartOnPty()) return std::fprintf(stderr, "soak: no pty\n"), 1;
        if (cycle % 2 == 1) driver.Call(KOR_FUNC_CLOSE_PORT, nullptr);
        if (driver.SetPort(sim->PortName()) != KOR_OK)
            return std::fprintf(stderr, "soak: SetPort to %s failed\n", sim->PortName().c_str()), 1;
        zanpro::ClearLog();
    }
    sim.reset();
    driver.Call(KOR_FUNC_EXIT, nullptr);
    const int descriptors = OpenDescriptors();
    std::printf("replugs: %d cycles, %d good reads before the unplug, %d failed reads after it\n",
                cycles, good, unplugged);
    std::printf("descriptors: %d before, %d after\n", descriptorsAtStart, descriptors);
    return good == cycles && unplugged == cycles && descriptors == descriptorsAtStart ? 0 : 1;
}

// Resident memory of another process in kB, -1 once it has ended.
long ResidentKbOf(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

int PollMemory(int cycles) {
    const pid_t pid = fork();
    if (pid == 0) {
        std::freopen("/dev/null", "w", stdout);
        const std::string count = std::to_string(cycles);
        execl(RODERAVO_TOOL, RODERAVO_TOOL, "poll", "--simulate", "--json", "--driver",
              RODERAVO_DRIVER, "--cycles", count.c_str(), "--poll-interval", "10ms",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    // Samples once a second; the first tenth of the run is the start-up.
    std::vector<long> samples;
    const auto start = std::chrono::steady_clock::now();
    for (long kb; (kb = ResidentKbOf(pid)) > 0 && waitpid(pid, nullptr, WNOHANG) == 0;) {
        samples.push_back(kb);
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    int status = 0;
    waitpid(pid, &status, 0);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (samples.size() < 10) {
        std::printf("poll memory: the run ended after %zu samples (status %d)\n", samples.size(),
                    status);
        return 1;
    }
    const long early = samples[samples.size() / 10];
    const long late = *std::max_element(samples.begin() + static_cast<long>(samples.size() / 10),
                                        samples.end());
    std::printf("poll memory: %d cycles in %.0f s, resident %ld kB after a tenth, at most %ld kB\n",
                cycles, seconds, early, late);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 && late - early < 1024 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const long exchanges = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 100000;
    const int cycles = argc > 2 ? static_cast<int>(std::strtol(argv[2], nullptr, 10)) : 1000;
    zanpro::Reset();
    zanpro::KeepLog(false);
    zanpro::SetLogSink([](int32_t, std::string_view) {});
    const int exchangesFailed = Exchanges(exchanges);
    const int replugsFailed = Replugs(cycles);
    const int memoryFailed = PollMemory(argc > 3 ? std::atoi(argv[3]) : 10000);
    const bool failed = exchangesFailed || replugsFailed || memoryFailed;
    std::printf("soak: %s\n", failed ? "FAILED" : "passed");
    return failed ? 1 : 0;
}
