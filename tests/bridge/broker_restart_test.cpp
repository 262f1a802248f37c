// Five bridges, each on its own muxsim, on one broker that is killed and started
// again while commands flow: every bridge is online again within --reconnect-max
// plus 5 s of the broker, and no command that was answered ran twice.
#include <gtest/gtest.h>
#include <muxsim/simulator.h>

#include <array>
#include <atomic>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <thread>

#include "bridge/broker.h"

using namespace roderavo_test;
using namespace std::chrono_literals;

namespace {

constexpr int kBridges = 5;
constexpr int kCommands = 150;  // to each bridge; each tells itself apart on the line
constexpr auto kReconnectMax = 1s;

struct Line {
    muxsim::Simulator sim;
    std::unique_ptr<ChildProgram> bridge;
};

std::string Site(int line) {
    return "herd" + std::to_string(line);
}

// Command n to a line: a joystick move whose first value (n - 100) is on the line.
std::string Joy(int line, int n) {
    return "{\"value\":\"(" + std::to_string(n - 100) + ",0,0)\",\"id\":\"" + Site(line) + "-" +
           std::to_string(n) + "\"}";
}

// How often each command ran: its first value, from the joystick frames on the line.
std::map<int, int> Runs(const muxsim::Simulator& sim) {
    std::map<int, int> runs;
    for (const auto& frame : sim.Received())
        if (frame.control && frame.command == muxsim::kCmdJoy && frame.bytes.size() > 6)
            ++runs[static_cast<int8_t>(frame.bytes[6]) + 100];
    return runs;
}

// When each site said "online" since `since`.
std::map<std::string, std::chrono::steady_clock::time_point> Online(
    const std::vector<Message>& all, std::chrono::steady_clock::time_point since) {
    std::map<std::string, std::chrono::steady_clock::time_point> online;
    for (const Message& m : all)
        if (m.payload == "online" && m.at >= since) online.emplace(m.topic.substr(9, 5), m.at);
    return online;
}

TEST(BrokerRestart, EveryBridgeReturnsSoonAndNoAnsweredCommandRunsTwice) {
    TestBroker broker;
    std::string why;
    ASSERT_TRUE(broker.Start({}, &why)) << why;
    const std::string url = "mqtt://127.0.0.1:" + std::to_string(broker.Port());
    // clang-format off
    const std::vector<std::string> common = {
        "bridge", "--driver", RODERAVO_DRIVER, "--mux", "1", "--json", "--poll-interval", "500ms",
        "--timeout", "500ms", "--reconnect-min", "100ms", "--reconnect-max", "1s", "--mqtt", url};
    // clang-format on
    std::array<Line, kBridges> lines;
    for (int i = 0; i < kBridges; ++i) {
        ASSERT_TRUE(lines[i].sim.StartOnPty());
        std::vector<std::string> args = common;
        args.insert(args.end(), {"--port", lines[i].sim.PortName(), "--site", Site(i)});
        lines[i].bridge =
            std::make_unique<ChildProgram>(RODERAVO_TOOL, args, ChildProgram::Stderr::File);
    }
    const auto start = std::chrono::steady_clock::now();
    Probe status(broker.Port(), "roderavo/+/status");
    Probe results(broker.Port(), "roderavo/+/mux/1/result");
    ASSERT_TRUE(results.Connected(10s));
    ASSERT_TRUE(status.WaitUntil(
        [&](const auto& all) { return Online(all, start).size() == kBridges; }, 30s));
    // Commands to every line, a round each 50 ms, before, during and after the restart;
    // each sent again a second later, as a sender does that heard no answer in time.
    std::atomic<int> sent = 0;
    std::thread sender([&] {
        for (int n = 0; n < kCommands; ++n) {
            for (int i = 0; i < kBridges; ++i)
                for (const int again : {n, n - 20})
                    if (again >= 0)
                        results.Send("roderavo/" + Site(i) + "/mux/1/set/joy", Joy(i, again));
            sent = n + 1;
            std::this_thread::sleep_for(50ms);  // the pace of the commands
        }
    });
    const bool before = results.WaitUntil([](const auto& all) { return all.size() >= 100; }, 30s);
    broker.Stop(SIGKILL);
    for (const Line& line : lines)
        while (line.bridge->Errors().find(" lost: ") == std::string::npos &&
               std::chrono::steady_clock::now() - start < 60s)
            std::this_thread::sleep_for(10ms);
    const bool restarted = broker.Start({}, &why);
    const auto ready = std::chrono::steady_clock::now();
    // A probe of its own at once: it hears the bridges come back, or the retained
    // "online" of those that came before it.
    Probe again(broker.Port(), "roderavo/+/status");
    const bool back = again.WaitUntil(
        [&](const auto& all) { return Online(all, ready).size() == kBridges; }, 60s);
    sender.join();
    ASSERT_TRUE(before && restarted && back) << why << sent << " rounds sent";
    for (const auto& [site, at] : Online(again.Messages(), ready))
        EXPECT_LT(at - ready, kReconnectMax + 5s) << site << " came back late";
    // The last command to each line answered: the earlier ones have run or been refused.
    ASSERT_TRUE(results.WaitUntil(
        [](const auto& all) {
            int last = 0;
            for (const Message& m : all) last += m.payload.find("-149\"") != std::string::npos;
            return last >= kBridges;
        },
        30s));
    std::array<std::map<int, int>, kBridges> runs;
    for (int i = 0; i < kBridges; ++i) {
        runs[i] = Runs(lines[i].sim);
        for (const auto& [n, count] : runs[i]) EXPECT_EQ(count, 1) << Site(i) << " ran " << n;
    }
    // Each answer says what happened on the line: a run (a repeat is answered from the
    // first run's record) or nothing.
    std::size_t answered = 0;
    for (const Message& m : results.Messages()) {
        const auto record = nlohmann::json::parse(m.payload);
        const std::string id = record.value("id", "");
        const int line = id[4] - '0', n = std::stoi(id.substr(6));
        EXPECT_EQ(runs[line][n], record["result"] == 0 ? 1 : 0) << m.payload;
        ++answered;
    }
    EXPECT_GE(answered, static_cast<std::size_t>(kBridges * kCommands));
}

}  // namespace
