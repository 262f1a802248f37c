// The bridge's web face under load: `roderavo bridge --http` polling continuously on
// muxsim paced at 9600 baud, with 20 event streams open (as 20 open pages hold them), a
// camera in muxsim changing at random phases of the cycle so that every stream gets
// messages. Three figures:
//   - the answer time of GET /api/v1/state: goal p99 <= 5 ms (the state is rendered
//     from what the poll read last, it never waits for the line);
//   - the poll cycle with the 20 streams against the cycle without them: goal within 1 %;
//   - a camera's change in muxsim to the page's DOM in headless Chromium, against the same
//     change to an MQTT subscriber of the same bridge, in one run: goal median at most
//     100 ms later (web_dom_row.cpp).
//
//   web_bench [--quick]     (WEB_BENCH_DEBUG=1: each change's times on stderr)
#include <muxsim/simulator.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bench_common.h"
#include "bridge/broker.h"
#include "cycle_clock.h"
#include "http_client.h"
#include "web_bridge.h"
#include "web_dom_row.h"

namespace {

using bench::Nanos;
using namespace std::chrono_literals;

constexpr int kStreams = 20;
constexpr int kCamera = bench::kWebCamera;
constexpr uint32_t kBaud = bench::kWebBaud;
constexpr const char* kSection = "Web face: 20 event streams open";

// The line: muxsim paced, the cycle taken from its trace.
muxsim::Options Paced(bench::CycleClock& cycles) {
    muxsim::Options options;
    options.baud = kBaud;
    options.trace = true;
    options.traceSink = [&cycles](std::string_view line) { cycles.Frame(line); };
    return options;
}

struct Line {
    bench::CycleClock cycles;
    muxsim::Simulator sim{Paced(cycles)};
    std::mt19937 random{13};
};

// Turns the camera into alarm and back, at random phases of the round, for `span`.
void ChangeFor(muxsim::Simulator& sim, std::chrono::milliseconds span, std::mt19937& random) {
    std::uniform_int_distribution<int> phase(0, static_cast<int>(bench::RoundMs(kBaud)));
    const Nanos end = bench::Now() + std::chrono::nanoseconds(span).count();
    for (bool alarm = true; bench::Now() < end; alarm = !alarm) {
        std::this_thread::sleep_for(std::chrono::milliseconds(phase(random)));
        sim.SetCameraState(kCamera, alarm ? muxsim::CameraState::Alarm : muxsim::CameraState::None);
    }
}

// GETs of the state back to back (a millisecond apart) until told to stop; the
// answer times in `times`, false when one failed.
bool Getter(int port, const std::atomic<bool>& running, std::vector<Nanos>& times) {
    bench::web::NormalPolicy();
    bench::HttpGetter client(port);
    if (!client.Connect()) return false;
    while (running) {
        const Nanos start = bench::Now();
        if (client.Get("/api/v1/state") != 200) return false;
        times.push_back(bench::Now() - start);
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

struct Figures {
    double alone = 0, loaded = 0;    // the median cycle, ms
    double messages = 0, bytes = 0;  // what a stream heard a second, with the cycle loaded
    int ends = 0;                    // the streams the bridge ended, all told
    std::vector<Nanos> answers;
};

using Streams = std::vector<std::unique_ptr<bench::EventStream>>;

// The messages and bytes the streams have heard, all told.
std::pair<double, double> Heard(const Streams& streams) {
    double messages = 0, bytes = 0;
    for (const auto& stream : streams) {
        messages += stream->Messages();
        bytes += static_cast<double>(stream->Bytes());
    }
    return {messages, bytes};
}

// The cycle's periods while the camera changes for `span`, added to `periods`.
void CyclesFor(Line& line, std::chrono::milliseconds span, std::vector<Nanos>& periods) {
    line.cycles.Clear();
    ChangeFor(line.sim, span, line.random);
    const std::vector<Nanos> some = line.cycles.Periods();
    periods.insert(periods.end(), some.begin(), some.end());
}

// The cycle without the streams and with them, in turns (so that the load of the
// machine, which drifts, weighs on both alike); the streams left open.
bool CompareCycles(Line& line, int port, bool quick, Streams& streams, Figures& figures) {
    const auto span = quick ? 2s : 8s;
    std::vector<Nanos> alone, loaded;
    double seconds = 0;
    for (int turn = 0; turn < (quick ? 1 : 3); ++turn) {
        streams.clear();
        CyclesFor(line, span, alone);
        for (int i = 0; i < kStreams; ++i)
            streams.push_back(std::make_unique<bench::EventStream>(port, "/api/v1/events"));
        std::this_thread::sleep_for(1s);  // the streams opened and heard the state
        const auto [messages, bytes] = Heard(streams);
        const Nanos start = bench::Now();
        CyclesFor(line, span, loaded);
        seconds += static_cast<double>(bench::Now() - start) / 1e9 * kStreams;
        figures.messages += Heard(streams).first - messages;
        figures.bytes += Heard(streams).second - bytes;
        for (const auto& stream : streams) {
            if (stream->Broken() || stream->Messages() < 3) return false;
            figures.ends += stream->Ends();
        }
    }
    figures.alone = bench::Summarise(alone).median / 1e6;
    figures.loaded = bench::Summarise(loaded).median / 1e6;
    figures.messages /= seconds;  // a stream's, a second
    figures.bytes /= seconds;
    return true;
}

// The cycle without and with the streams, then the GETs with the streams.
bool Measure(Line& line, int port, bool quick, Figures& figures) {
    std::this_thread::sleep_for(quick ? 2s : 6s);  // the versions and clocks read at the start
    Streams streams;
    if (!CompareCycles(line, port, quick, streams, figures)) {
        std::fprintf(stderr, "web_bench: a stream broke or heard nothing\n");
        return false;
    }
    std::atomic<bool> running{true};
    bool answered = false;
    std::thread getter([&] { answered = Getter(port, running, figures.answers); });
    ChangeFor(line.sim, quick ? 1s : 10s, line.random);
    running = false;
    getter.join();
    for (const auto& stream : streams) figures.ends += stream->Ends();
    if (!answered) std::fprintf(stderr, "web_bench: a GET of the state failed\n");
    return answered;
}

void Report(const Figures& figures) {
    const bench::Summary answers = bench::Summarise(figures.answers);
    bench::Row(kSection,
               "GET /api/v1/state answer time, poll continuous at 9600 baud (n=" +
                   std::to_string(answers.count) + ")",
               bench::Fixed(answers.median / 1e6, 3) + " ms",
               bench::Fixed(answers.p99 / 1e6, 3) + " ms", "",
               std::string("goal p99 <= 5 ms: ") + (answers.p99 <= 5e6 ? "met" : "MISSED"));
    const double ratio = figures.loaded / figures.alone;
    bench::Row(
        kSection,
        "poll cycle with the 20 streams (each heard " + bench::Fixed(figures.messages, 0) +
            " messages, " + bench::Fixed(figures.bytes / 1e3, 0) +
            " kB a second; the bridge ended streams " + std::to_string(figures.ends) + " times)",
        bench::Fixed(figures.loaded, 1) + " ms", "",
        "without " + bench::Fixed(figures.alone, 1) + " ms",
        "x" + bench::Fixed(ratio, 3) + "; goal <= 1.01: " + (ratio <= 1.01 ? "met" : "MISSED"));
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::string(argv[1]) == "--quick";
    if (!quick) bench::UseRealtime();
    Line line;
    if (!line.sim.StartOnPty()) {
        std::fprintf(stderr, "web_bench: no pty for muxsim\n");
        return 1;
    }
    const int port = roderavo_test::FreePort();
    auto bridge = bench::StartWebBridge(line.sim, port, {});
    if (!bridge) return 1;
    Figures figures;
    const bool measured = Measure(line, port, quick, figures);
    bridge->Stop(SIGTERM, 5s);
    if (!measured) return 1;
    Report(figures);
    return bench::DomRow(quick) ? 0 : 1;
}
