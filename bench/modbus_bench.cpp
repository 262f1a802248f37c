// The bridge's Modbus TCP face under load: ten libmodbus clients, each reading the 100
// alarm bits in a loop, while the bridge polls muxsim continuously on a line paced at
// 9600 baud. Three figures:
//   - the answer time of those reads: goal median <= 1 ms, p99 <= 5 ms (a read is
//     answered from what the poll read last, it never waits for the line);
//   - the poll cycle with the clients against the cycle without them: goal within 2 %;
//   - the time from a camera's change in muxsim to the first read that shows it,
//     against the round of AAS and VLS: the goal the MQTT face has (median <= 0.65 x,
//     p99 <= 1.2 x the round).
//
//   modbus_bench [--quick]     (MODBUS_BENCH_DEBUG=1: each change's time on stderr)
#include <modbus/modbus.h>
#include <muxsim/simulator.h>

#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench_common.h"
#include "bridge/broker.h"
#include "cycle_clock.h"

namespace {

using bench::Nanos;
using namespace std::chrono_literals;

constexpr int kClients = 10;
constexpr int kCamera = 45;  // on multiplexer 2, the middle of the cycle
constexpr uint32_t kBaud = 9600;
constexpr const char* kSection = "Modbus face: 10 clients reading 100 alarm bits";

// What the clients share: the change being looked for, and when a read first showed it.
struct Watch {
    std::atomic<bool> running{true};
    std::atomic<int> expected{-1};  // the bit that shows the change; -1: none
    std::atomic<Nanos> changedAt{0};
    std::atomic<Nanos> seenAt{0};
};

// One client: reads until told to stop; the answer times in `times`. It runs as an
// ordinary program would, without the real-time policy the bridge and muxsim get:
// ten threads that never sleep would otherwise take every core from them.
void Client(int port, Watch& watch, std::vector<Nanos>& times, std::atomic<int>& failures) {
    sched_param normal{};
    pthread_setschedparam(pthread_self(), SCHED_OTHER, &normal);
    std::unique_ptr<modbus_t, decltype(&modbus_free)> context(modbus_new_tcp("127.0.0.1", port),
                                                              &modbus_free);
    if (!context || modbus_connect(context.get()) != 0) {
        ++failures;
        return;
    }
    std::vector<uint8_t> bits(100);
    while (watch.running) {
        const Nanos start = bench::Now();
        if (modbus_read_input_bits(context.get(), 0, 100, bits.data()) != 100) {
            // 0B: a multiplexer not seen yet (or not lately): its cameras are not told.
            if (errno == EMBXGTAR) continue;
            ++failures;
            return;
        }
        const Nanos end = bench::Now();
        times.push_back(end - start);
        const int expected = watch.expected;
        Nanos none = 0;
        if (expected >= 0 && start >= watch.changedAt && bits[kCamera - 1] == expected)
            watch.seenAt.compare_exchange_strong(none, end);
    }
    modbus_close(context.get());
}

bool BridgeSays(const roderavo_test::ChildProgram& bridge, const std::string& text) {
    for (int i = 0; i < 1000; ++i) {
        if (bridge.Errors().find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::string(argv[1]) == "--quick";
    if (!quick) bench::UseRealtime();
    bench::CycleClock cycles;
    muxsim::Options options;
    options.baud = kBaud;
    options.trace = true;
    options.traceSink = [&cycles](std::string_view line) { cycles.Frame(line); };
    muxsim::Simulator sim(options);
    if (!sim.StartOnPty()) {
        std::fprintf(stderr, "modbus_bench: no pty for muxsim\n");
        return 1;
    }
    const int port = roderavo_test::FreePort();
    roderavo_test::ChildProgram bridge(
        RODERAVO_TOOL,
        {"bridge", "--driver", RODERAVO_DRIVER, "--port", sim.PortName(), "--modbus",
         "127.0.0.1:" + std::to_string(port), "--poll-interval", "0", "--timeout", "500ms",
         "--baud", std::to_string(kBaud)},
        roderavo_test::ChildProgram::Stderr::File);
    if (!BridgeSays(bridge, "Modbus TCP on")) {
        std::fprintf(stderr, "modbus_bench: the bridge did not start\n%s", bridge.Errors().c_str());
        return 1;
    }
    // The cycle alone, after the first cycles (the versions and clocks read at the start).
    const auto settle = quick ? 2s : 6s;
    const auto span = quick ? 2s : 15s;
    std::this_thread::sleep_for(settle);
    cycles.Clear();
    std::this_thread::sleep_for(span);
    const double alone = cycles.MedianPeriodMs();

    // The clients, and the camera's changes at random phases while they read.
    Watch watch;
    std::atomic<int> failures{0};
    std::vector<std::vector<Nanos>> times(kClients);
    std::vector<std::thread> clients;
    for (int i = 0; i < kClients; ++i)
        clients.emplace_back(Client, port, std::ref(watch),
                             std::ref(times[static_cast<std::size_t>(i)]), std::ref(failures));
    std::this_thread::sleep_for(quick ? 1s : 5s);  // the clients settled
    cycles.Clear();
    std::mt19937 random(11);
    std::uniform_int_distribution<int> phase(0, static_cast<int>(bench::RoundMs(kBaud)));
    std::vector<Nanos> changes;
    const int samples = quick ? 3 : 30;
    for (int i = 0; i < samples && failures == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(phase(random)));
        const bool alarm = i % 2 == 0;
        watch.seenAt = 0;
        watch.changedAt = bench::Now();
        watch.expected = alarm ? 1 : 0;
        sim.SetCameraState(kCamera, alarm ? muxsim::CameraState::Alarm : muxsim::CameraState::None);
        // 20 s, as the MQTT bench waits: a busy machine slows the line's pace, and the
        // quick run in the tests checks the plumbing only.
        for (int wait = 0; wait < 20000 && watch.seenAt == 0; ++wait)
            std::this_thread::sleep_for(1ms);
        if (watch.seenAt == 0) {
            std::fprintf(stderr, "modbus_bench: change %d never showed\n", i);
            ++failures;
            break;
        }
        changes.push_back(watch.seenAt - watch.changedAt);
        if (std::getenv("MODBUS_BENCH_DEBUG"))
            std::fprintf(stderr, "sample %d: %.1f ms\n", i,
                         static_cast<double>(changes.back()) / 1e6);
        watch.expected = -1;
    }
    const double loaded = cycles.MedianPeriodMs();
    watch.running = false;
    for (std::thread& client : clients) client.join();
    bridge.Stop(SIGTERM, 5s);
    if (failures != 0) {
        std::fprintf(stderr, "modbus_bench: %d client failures\n", failures.load());
        return 1;
    }

    std::vector<Nanos> all;
    for (const auto& some : times) all.insert(all.end(), some.begin(), some.end());
    const bench::Summary reads = bench::Summarise(all);
    const bool fast = reads.median <= 1e6 && reads.p99 <= 5e6;
    bench::Row(kSection,
               "answer time, poll continuous at 9600 baud (n=" + std::to_string(reads.count) + ")",
               bench::Fixed(reads.median / 1e6, 3) + " ms",
               bench::Fixed(reads.p99 / 1e6, 3) + " ms", "",
               std::string("goal median <= 1 ms, p99 <= 5 ms: ") + (fast ? "met" : "MISSED"));
    const double ratio = loaded / alone;
    bench::Row(
        kSection, "poll cycle with the clients", bench::Fixed(loaded, 1) + " ms", "",
        "without " + bench::Fixed(alone, 1) + " ms",
        "x" + bench::Fixed(ratio, 3) + "; goal <= 1.02: " + (ratio <= 1.02 ? "met" : "MISSED"));
    const bench::Summary seen = bench::Summarise(changes);
    const double round = bench::RoundMs(kBaud);
    const bool prompt = seen.median / 1e6 <= 0.65 * round && seen.p99 / 1e6 <= 1.2 * round;
    bench::Row(kSection,
               "camera change to a read that shows it (n=" + std::to_string(seen.count) + ")",
               bench::Fixed(seen.median / 1e6, 1) + " ms", bench::Fixed(seen.p99 / 1e6, 1) + " ms",
               "AAS+VLS round " + bench::Fixed(round, 0) + " ms wire",
               "median x" + bench::Fixed(seen.median / 1e6 / round, 2) + ", p99 x" +
                   bench::Fixed(seen.p99 / 1e6 / round, 2) +
                   "; goal <= 0.65, <= 1.2: " + (prompt ? "met" : "MISSED"));
    return 0;
}
