// The fleet: N bridges, each on its own muxsim at 9600 baud (paced as the real line),
// all on one mosquitto, polling at the default interval. From one run: the time until
// all are online; each bridge's resident memory and CPU (median, max) and the broker's
// CPU and messages a second over a quiet minute; the alarm latency (a camera's change in
// its muxsim to its MQTT message) with the fleet running and with one bridge alone; the
// time until all are online again after a broker restart; and the machine's load
// meanwhile. The simulators run in this process; the bridges and the broker are
// measured from /proc.
//
//   fleet_bench [N] [--quick]     rows for run_bench.sh (--quick: short windows)
#include <muxsim/simulator.h>
#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_common.h"
#include "bridge/broker.h"

namespace {

using bench::Nanos;
using roderavo_test::ChildProgram;
using namespace std::chrono_literals;

constexpr const char* kSection = "fleet of bridges on one broker";
constexpr uint32_t kBaud = 9600;

// The CPU ticks (user and system, every thread) of a process; its resident memory in MB.
double Read(pid_t pid, long* ticks) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long user = 0, system = 0, rssPages = 0;
    for (int i = 3; fields >> field; ++i) {
        if (i == 14) user = std::stol(field);
        if (i == 15) system = std::stol(field);
        if (i == 24) rssPages = std::stol(field);
    }
    *ticks = user + system;
    return static_cast<double>(rssPages) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1e6;
}

// The machine's busy share of all its CPUs between two readings of /proc/stat.
struct MachineCpu {
    long busy = 0, all = 0;
    static MachineCpu Now() {
        std::ifstream stat("/proc/stat");
        std::string cpu;
        long value = 0, idle = 0;
        MachineCpu m;
        stat >> cpu;
        for (int i = 0; i < 10 && stat >> value; ++i) {
            m.all += value;
            if (i == 3 || i == 4) idle += value;  // idle and iowait
        }
        m.busy = m.all - idle;
        return m;
    }
};

// The proportional set size: the resident pages with each shared one divided among the
// processes that map it (the fleet's own cost of a bridge), in MB.
double ProportionalMb(pid_t pid) {
    std::ifstream rollup("/proc/" + std::to_string(pid) + "/smaps_rollup");
    for (std::string key; rollup >> key;) {
        long kb = 0;
        if (key == "Pss:" && rollup >> kb) return static_cast<double>(kb) / 1e3;
    }
    return 0;
}

double LoadAverage() {
    std::ifstream load("/proc/loadavg");
    double one = 0;
    load >> one;
    return one;
}

std::string Prefix(int bridge) {
    char text[32];
    std::snprintf(text, sizeof text, "fleet/b%03d", bridge);
    return text;
}

// What the broker tells a subscriber of fleet/#: which bridges are online, the messages
// counted, and the arrival of the camera changes that are waited for.
class Watcher {
  public:
    explicit Watcher(int port) : probe_(port, "fleet/#") {
        probe_.OnMessage([this](const roderavo_test::Message& m) { Heard(m); });
    }
    bool Connected() { return probe_.Connected(10s); }

    // Waits until `count` bridges have said online since `since` (or the time is up):
    // the time of the last, or -1.
    Nanos AllOnline(std::size_t count, Nanos since, std::chrono::seconds limit) {
        std::unique_lock lock(mutex_);
        const bool all = changed_.wait_for(lock, limit, [&] { return Online(since) >= count; });
        if (!all) return -1;
        Nanos last = 0;
        for (const auto& [prefix, at] : online_)
            if (at >= since) last = std::max(last, at);
        return last;
    }
    // When the first and the last of those online since `since` came.
    std::pair<Nanos, Nanos> OnlineSpread(Nanos since) const {
        std::lock_guard lock(mutex_);
        Nanos first = INT64_MAX, last = 0;
        for (const auto& [prefix, at] : online_) {
            if (at < since) continue;
            first = std::min(first, at);
            last = std::max(last, at);
        }
        return {first, last};
    }
    long Messages() const { return messages_; }
    // Waits until no message has come for `quiet` (the start's burst is through), at
    // most `limit`.
    void WaitQuiet(std::chrono::seconds quiet, std::chrono::seconds limit) const {
        const auto end = std::chrono::steady_clock::now() + limit;
        for (long seen = -1; seen != messages_ && std::chrono::steady_clock::now() < end;) {
            seen = messages_;
            std::this_thread::sleep_for(quiet);
        }
    }

    // Expects `payload` on the topic; the time it came, once it has.
    void Expect(const std::string& topic, const std::string& payload) {
        std::lock_guard lock(mutex_);
        expected_[topic] = {payload, 0};
    }
    Nanos Arrived(const std::string& topic, std::chrono::seconds limit) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, limit, [&] { return expected_[topic].second != 0; });
        return expected_[topic].second;
    }

  private:
    std::size_t Online(Nanos since) const {
        return static_cast<std::size_t>(
            std::count_if(online_.begin(), online_.end(),
                          [&](const auto& entry) { return entry.second >= since; }));
    }
    void Heard(const roderavo_test::Message& m) {
        const Nanos at = bench::Now();
        ++messages_;
        std::lock_guard lock(mutex_);
        if (m.topic.ends_with("/status") && m.payload == "online")
            online_[m.topic.substr(0, m.topic.size() - 7)] = at;
        const auto expected = expected_.find(m.topic);
        if (expected != expected_.end() && expected->second.first == m.payload &&
            expected->second.second == 0)
            expected->second.second = at;
        changed_.notify_all();
    }

    roderavo_test::Probe probe_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::string, Nanos> online_;
    std::map<std::string, std::pair<std::string, Nanos>> expected_;
    std::atomic<long> messages_{0};
};

// The children, for a stop by a signal: each is asked to end, as Ctrl-C asks them all.
std::array<std::atomic<pid_t>, 4096> gChildren{};
std::atomic<std::size_t> gChildCount{0};

void Remember(pid_t pid) {
    const std::size_t slot = gChildCount++;
    if (slot < gChildren.size()) gChildren[slot] = pid;
}

void OnSignal(int signal) {
    const std::size_t count = std::min(gChildCount.load(), gChildren.size());
    for (std::size_t i = 0; i < count; ++i)
        if (const pid_t pid = gChildren[i]; pid > 0) kill(pid, SIGTERM);
    _exit(128 + signal);
}

struct Line {
    std::unique_ptr<muxsim::Simulator> sim;
    std::unique_ptr<ChildProgram> bridge;
};

bool StartLine(Line& line, int index, int brokerPort) {
    muxsim::Options options;
    options.baud = kBaud;
    line.sim = std::make_unique<muxsim::Simulator>(options);
    if (!line.sim->StartOnPty()) return false;
    line.bridge = std::make_unique<ChildProgram>(
        RODERAVO_TOOL,
        std::vector<std::string>{"bridge", "--driver", RODERAVO_DRIVER, "--port",
                                 line.sim->PortName(), "--mqtt",
                                 "mqtt://127.0.0.1:" + std::to_string(brokerPort), "--topic-prefix",
                                 Prefix(index), "--baud", std::to_string(kBaud)},
        ChildProgram::Stderr::Null);
    Remember(line.bridge->Pid());
    return line.bridge->Started();
}

// Changes a camera on each line of `plan` at its moment (offsets from now), and how
// long each change took to reach the watcher. A camera in alarm is cleared, a fine
// one put into alarm.
std::vector<Nanos> Latencies(std::vector<Line>& lines, Watcher& watcher,
                             const std::vector<std::pair<int, Nanos>>& plan, std::mt19937& random) {
    // Each line's cameras in a random order, each used once (up to 100 changes a line),
    // so that no change is taken for another.
    std::map<int, std::vector<int>> decks;
    std::map<std::pair<int, int>, bool> inAlarm;
    std::vector<std::pair<std::string, Nanos>> sent;
    const Nanos start = bench::Now();
    for (const auto& [line, offset] : plan) {
        std::this_thread::sleep_for(std::chrono::nanoseconds(start + offset - bench::Now()));
        auto& deck = decks[line];
        if (deck.empty()) {
            for (int camera = 1; camera <= muxsim::kCameraCount; ++camera) deck.push_back(camera);
            std::shuffle(deck.begin(), deck.end(), random);
        }
        const int camera = deck.back();
        deck.pop_back();
        bool& alarm = inAlarm[{line, camera}];
        alarm = !alarm;
        const std::string topic = Prefix(line) + "/camera/" + std::to_string(camera) + "/state";
        watcher.Expect(topic, alarm ? "alarm" : "fine");
        lines[static_cast<std::size_t>(line)].sim->SetCameraState(
            camera, alarm ? muxsim::CameraState::Alarm : muxsim::CameraState::None);
        sent.emplace_back(topic, bench::Now());
    }
    std::vector<Nanos> latencies;
    for (const auto& [topic, at] : sent) {
        const Nanos arrived = watcher.Arrived(topic, 20s);
        if (arrived != 0) latencies.push_back(arrived - at);
    }
    return latencies;
}

// One line's changes one after the other, 1 to 2 s apart (a cycle and more: each is
// read and published before the next); or one change on each of `lines` lines, at
// random moments of `spread`.
std::vector<std::pair<int, Nanos>> Plan(int lines, int changes, Nanos spread,
                                        std::mt19937& random) {
    std::vector<std::pair<int, Nanos>> plan;
    if (lines == 1) {
        std::uniform_int_distribution<Nanos> pause(1'000'000'000, 2'000'000'000);
        Nanos at = 0;
        for (int i = 0; i < changes; ++i) plan.emplace_back(0, at += pause(random));
        return plan;
    }
    std::uniform_int_distribution<Nanos> moment(0, spread);
    for (int line = 0; line < lines; ++line) plan.emplace_back(line, moment(random));
    std::sort(plan.begin(), plan.end(), [](auto& a, auto& b) { return a.second < b.second; });
    return plan;
}

std::string Ms(double nanos) {
    return bench::Fixed(nanos / 1e6, 0) + " ms";
}

std::string Seconds(Nanos nanos) {
    return bench::Fixed(static_cast<double>(nanos) / 1e9, 1) + " s";
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A quiet window: each bridge's CPU and memory, the broker's CPU, the messages.
void MeasureWindow(std::vector<Line>& lines, const roderavo_test::TestBroker& broker,
                   Watcher& watcher, std::chrono::seconds window) {
    const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
    std::vector<long> before(lines.size()), after(lines.size());
    long brokerBefore = 0, brokerAfter = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) Read(lines[i].bridge->Pid(), &before[i]);
    Read(broker.Pid(), &brokerBefore);
    const long messages = watcher.Messages();
    const MachineCpu machine = MachineCpu::Now();
    const Nanos start = bench::Now();
    std::this_thread::sleep_for(window);
    const double seconds = static_cast<double>(bench::Now() - start) / 1e9;
    const MachineCpu end = MachineCpu::Now();
    std::vector<double> cpu, rss, pss;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        rss.push_back(Read(lines[i].bridge->Pid(), &after[i]));
        pss.push_back(ProportionalMb(lines[i].bridge->Pid()));
        cpu.push_back(100.0 * static_cast<double>(after[i] - before[i]) / tick / seconds);
    }
    Read(broker.Pid(), &brokerAfter);
    const std::string n = std::to_string(lines.size()) + " bridges, ";
    bench::Row(
        kSection, n + "bridge resident memory (median, max)", bench::Fixed(Median(rss), 1) + " MB",
        bench::Fixed(*std::max_element(rss.begin(), rss.end()), 1) + " MB", "goal <= 8 MB", "");
    bench::Row(kSection, n + "bridge proportional memory, PSS (median, max)",
               bench::Fixed(Median(pss), 1) + " MB",
               bench::Fixed(*std::max_element(pss.begin(), pss.end()), 1) + " MB", "",
               "shared pages divided among the bridges");
    bench::Row(kSection, n + "bridge CPU, % of a core (median, max)",
               bench::Fixed(Median(cpu), 2) + " %",
               bench::Fixed(*std::max_element(cpu.begin(), cpu.end()), 2) + " %", "goal <= 0.15 %",
               "over " + bench::Fixed(seconds, 0) + " s");
    bench::Row(
        kSection, n + "broker CPU, % of a core",
        bench::Fixed(100.0 * static_cast<double>(brokerAfter - brokerBefore) / tick / seconds, 2) +
            " %",
        "", "goal <= 5 %", "");
    bench::Row(kSection, n + "messages a second to a subscriber of fleet/#",
               bench::Fixed(static_cast<double>(watcher.Messages() - messages) / seconds, 1), "",
               "", "");
    const double busy = 100.0 * static_cast<double>(end.busy - machine.busy) /
                        static_cast<double>(std::max(1L, end.all - machine.all));
    bench::Row(kSection, n + "the machine meanwhile: busy share of its CPUs, load (1 min)",
               bench::Fixed(busy, 0) + " %", "load " + bench::Fixed(LoadAverage(), 2),
               std::to_string(std::thread::hardware_concurrency()) + " CPUs", "");
}

void LatencyRows(const std::string& name, const std::vector<Nanos>& samples,
                 const bench::Summary& reference) {
    const bench::Summary s = bench::Summarise(samples);
    const std::string ratio =
        reference.count > 0 && reference.p99 > 0
            ? "p99 x" + bench::Fixed(s.p99 / reference.p99, 2) + " of one bridge's (goal <= 1.10)"
            : "";
    bench::Row(kSection, name + " (" + std::to_string(s.count) + " changes)", Ms(s.median),
               Ms(s.p99), "", ratio);
}

// The one bridge alone: its latency, the reference of the fleet's.
bench::Summary Alone(int port, bool quick, std::mt19937& random) {
    std::vector<Line> lines(1);
    Watcher watcher(port);
    if (!watcher.Connected() || !StartLine(lines[0], 0, port) || watcher.AllOnline(1, 0, 30s) < 0) {
        std::fprintf(stderr, "fleet_bench: the first bridge did not come online\n");
        return {};
    }
    const auto samples = Latencies(lines, watcher, Plan(1, quick ? 3 : 60, 0, random), random);
    LatencyRows("1 bridge, alarm latency: a camera's change to its MQTT message", samples, {});
    lines[0].bridge->Stop(SIGTERM, 10s);
    return bench::Summarise(samples);
}

// Starts them all at once: the time until the last is online.
bool StartFleet(std::vector<Line>& lines, int port, Watcher& watcher) {
    const Nanos start = bench::Now();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!StartLine(lines[i], static_cast<int>(i), port)) {
            std::fprintf(stderr, "fleet_bench: line %zu did not start (pty or process)\n", i);
            return false;
        }
    }
    const Nanos last = watcher.AllOnline(lines.size(), start, 300s);
    if (last < 0) {
        std::fprintf(stderr, "fleet_bench: not every bridge came online within 300 s\n");
        return false;
    }
    bench::Row(kSection, std::to_string(lines.size()) + " bridges started at once: all online",
               Seconds(last - start), "", "", "from the first start");
    return true;
}

// The broker stopped and started again: the time from its ready until all are back,
// and how the returns spread (the back-off's jitter).
void Restart(roderavo_test::TestBroker& broker, const roderavo_test::TestBroker::Settings& settings,
             std::size_t count) {
    broker.Stop();
    std::string why;
    if (!broker.Start(settings, &why)) {
        std::fprintf(stderr, "fleet_bench: the broker did not start again: %s\n", why.c_str());
        return;
    }
    Remember(broker.Pid());
    const Nanos ready = bench::Now();
    Watcher watcher(broker.Port());
    if (!watcher.Connected()) return;
    const Nanos last = watcher.AllOnline(count, ready, 120s);
    const auto [first, latest] = watcher.OnlineSpread(ready);
    bench::Row(
        kSection, std::to_string(count) + " bridges, all online again after a broker restart",
        last < 0 ? "not all within 120 s" : Seconds(last - ready), "",
        "goal <= --reconnect-max + 5 s (35 s)", "returns spread over " + Seconds(latest - first));
}

}  // namespace

int main(int argc, char** argv) {
    int count = 200;
    bool quick = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--quick")
            quick = true;
        else
            count = std::max(1, std::atoi(argv[i]));
    }
    if (quick) count = std::min(count, 3);
    rlimit files{};  // a pty and pipes for each line, a socket for each bridge at the broker
    if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    roderavo_test::TestBroker broker;
    roderavo_test::TestBroker::Settings settings;
    settings.logAll = false;  // as a broker runs: its log is no part of the cost
    // The watcher takes every message of the fleet, and the fleet's start is a burst of
    // some 130 retained states a bridge: none may be dropped for it.
    settings.more = "max_queued_messages 1000000\n";
    std::string why;
    if (!broker.Start(settings, &why)) {
        bench::Row(kSection, "-", "-", "-", "mosquitto could not start", why.substr(0, 60));
        return 0;
    }
    Remember(broker.Pid());
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::mt19937 random(31);
    const bench::Summary alone = Alone(broker.Port(), quick, random);
    std::vector<Line> lines(static_cast<std::size_t>(count));
    Watcher watcher(broker.Port());
    if (!watcher.Connected() || !StartFleet(lines, broker.Port(), watcher)) return 1;
    watcher.WaitQuiet(quick ? 1s : 5s, 120s);  // past the first cycles and their burst
    MeasureWindow(lines, broker, watcher, quick ? 3s : 60s);
    const auto samples = Latencies(
        lines, watcher, Plan(count, 0, quick ? 1'000'000'000 : 20'000'000'000, random), random);
    LatencyRows(std::to_string(count) + " bridges, alarm latency", samples, alone);
    Restart(broker, settings, lines.size());
    for (Line& line : lines) kill(line.bridge->Pid(), SIGTERM);
    for (Line& line : lines) line.bridge->Stop(SIGTERM, 10s);
    return 0;
}
