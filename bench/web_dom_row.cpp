#include "web_dom_row.h"

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench_common.h"
#include "bridge/broker.h"
#include "cycle_clock.h"
#include "web_bridge.h"

namespace bench {

namespace {

using namespace std::chrono_literals;
using roderavo_test::ChildProgram;

constexpr const char* kSection = "Web face: camera change to the page (Chromium)";

// The wall clock: the page times its changes by it.
Nanos WallNow() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<Nanos>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// The camera's state topic at a subscriber: when the expected payload came.
class MqttWatch {
  public:
    explicit MqttWatch(int port)
        : probe_(port, "bench/camera/" + std::to_string(kWebCamera) + "/state") {
        probe_.OnMessage([this](const roderavo_test::Message& message) {
            std::lock_guard lock(mutex_);
            if (message.payload != expected_ || at_ != 0) return;
            at_ = WallNow();
            arrived_.notify_all();
        });
    }
    bool Connected() { return probe_.Connected(5s); }
    void Expect(const std::string& payload) {
        std::lock_guard lock(mutex_);
        expected_ = payload;
        at_ = 0;
    }
    // When it came (wall clock), 0 when not in time.
    Nanos Wait(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        arrived_.wait_for(lock, timeout, [this] { return at_ != 0; });
        return at_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::string expected_;
    Nanos at_ = 0;
    roderavo_test::Probe probe_;  // last: its thread ends before the rest goes
};

// The page's time of its change to `state` after `since` (wall clock), as the helper
// tells it; 0 when none came in time.
Nanos DomTime(ChildProgram& helper, const std::string& state, Nanos since) {
    const Nanos deadline = Now() + Nanos{20'000'000'000};
    while (Now() < deadline) {
        const std::string line = helper.ReadLine(1s);
        if (!line.starts_with(state + " ")) continue;
        const auto at = static_cast<Nanos>(std::stod(line.substr(state.size() + 1)) * 1e6);
        if (at >= since) return at;
    }
    return 0;
}

struct Latencies {
    std::vector<Nanos> mqtt, dom;
};

// The camera's changes at random phases of the round, each timed at both.
bool Sample(muxsim::Simulator& sim, MqttWatch& mqtt, ChildProgram& helper, int count,
            Latencies& latencies) {
    std::mt19937 random(17);
    std::uniform_int_distribution<int> phase(0, static_cast<int>(RoundMs(kWebBaud)));
    for (int i = 0; i < count; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(phase(random)));
        const bool alarm = i % 2 == 0;
        const std::string state = alarm ? "alarm" : "fine";
        mqtt.Expect(state);
        const Nanos start = WallNow();
        sim.SetCameraState(kWebCamera,
                           alarm ? muxsim::CameraState::Alarm : muxsim::CameraState::None);
        const Nanos heard = mqtt.Wait(20s);
        const Nanos shown = DomTime(helper, state, start);
        if (heard == 0 || shown == 0) {
            std::fprintf(stderr, "web_bench: change %d: %s\n", i,
                         heard == 0 ? "no MQTT message" : "the page did not show it");
            return false;
        }
        latencies.mqtt.push_back(heard - start);
        latencies.dom.push_back(shown - start);
        if (std::getenv("WEB_BENCH_DEBUG"))
            std::fprintf(stderr, "sample %d %s: MQTT %.1f ms, page %.1f ms\n", i, state.c_str(),
                         static_cast<double>(heard - start) / 1e6,
                         static_cast<double>(shown - start) / 1e6);
    }
    return true;
}

std::string Signed(double ms) {
    return (ms >= 0 ? "+" : "") + Fixed(ms, 1) + " ms";
}

// The medians against each other (the goal), and each change's page against its MQTT
// message: the spread the two medians hide.
void Report(const Latencies& latencies) {
    const Summary mqtt = Summarise(latencies.mqtt);
    const Summary dom = Summarise(latencies.dom);
    std::vector<Nanos> lag;
    for (std::size_t i = 0; i < latencies.dom.size(); ++i)
        lag.push_back(latencies.dom[i] - latencies.mqtt[i]);
    const Summary behind = Summarise(lag);
    const double later = (dom.median - mqtt.median) / 1e6;
    Row(kSection, "page DOM, poll continuous at 9600 baud (n=" + std::to_string(dom.count) + ")",
        Fixed(dom.median / 1e6, 1) + " ms", Fixed(dom.p99 / 1e6, 1) + " ms",
        "MQTT subscriber " + Fixed(mqtt.median / 1e6, 1) + " ms, p99 " + Fixed(mqtt.p99 / 1e6, 1) +
            " ms",
        "median " + Signed(later) + "; goal <= +100 ms: " + (later <= 100 ? "met" : "MISSED") +
            "; each change behind MQTT: median " + Signed(behind.median / 1e6) + ", p99 " +
            Signed(behind.p99 / 1e6));
}

// Samples through the helper once it watches the page; false when the run failed.
bool Watched(muxsim::Simulator& sim, MqttWatch& mqtt, int web, bool quick) {
    ChildProgram helper("/usr/bin/python3",
                        {WEB_DOM_SCRIPT, "http://127.0.0.1:" + std::to_string(web) + "/",
                         std::to_string(kWebCamera)},
                        ChildProgram::Stderr::File);
    const std::string first = helper.ReadLine(90s);
    Latencies latencies;
    bool sampled = false;
    if (first == "ready") sampled = Sample(sim, mqtt, helper, quick ? 2 : 30, latencies);
    helper.Stop(SIGTERM, 20s);
    if (first != "ready") {
        Row(kSection, "page DOM", "-", "-", "", first.empty() ? "the page never went live" : first);
        return true;
    }
    if (sampled) Report(latencies);
    return sampled;
}

}  // namespace

bool DomRow(bool quick) {
    muxsim::Options options;
    options.baud = kWebBaud;
    muxsim::Simulator sim(options);
    if (!sim.StartOnPty()) return false;
    roderavo_test::TestBroker broker;
    std::string why;
    if (!broker.Start({}, &why)) {
        Row(kSection, "page DOM", "-", "-", "mosquitto could not start", why.substr(0, 60));
        return true;
    }
    MqttWatch mqtt(broker.Port());
    if (!mqtt.Connected()) return false;
    const int web = roderavo_test::FreePort();
    mqtt.Expect("fine");
    auto bridge = StartWebBridge(
        sim, web,
        {"--mqtt", "mqtt://127.0.0.1:" + std::to_string(broker.Port()), "--topic-prefix", "bench"});
    if (!bridge || mqtt.Wait(20s) == 0) return false;
    const bool done = Watched(sim, mqtt, web, quick);
    bridge->Stop(SIGTERM, 5s);
    return done;
}

}  // namespace bench
