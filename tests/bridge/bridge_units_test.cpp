// The bridge's parts without a broker: the broker's address, the topics, what a
// command asks for, the ids already run, the states as published.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>
#include <tuple>

#include "bridge/bridge_options.h"
#include "bridge/command_queue.h"
#include "bridge/modbus_map.h"
#include "bridge/modbus_server.h"
#include "bridge/state_publisher.h"

using namespace roderavo::tool;
using namespace roderavo::tool::bridge;
using ::testing::HasSubstr;

namespace {

TEST(BridgeOptions, BrokerUrls) {
    struct Case {
        std::string url, host;
        int port;
        bool tls;
    };
    for (const Case& c : std::vector<Case>{{"mqtt://localhost", "localhost", 1883, false},
                                           {"mqtt://10.1.2.3:1884", "10.1.2.3", 1884, false},
                                           {"mqtts://broker.example", "broker.example", 8883, true},
                                           {"ssl://b:9000/", "b", 9000, true},
                                           {"mqtt://[::1]:1883", "::1", 1883, false}}) {
        std::string error;
        const auto address = ParseBrokerUrl(c.url, &error);
        ASSERT_TRUE(address) << c.url << ": " << error;
        EXPECT_EQ(address->host, c.host) << c.url;
        EXPECT_EQ(address->port, c.port) << c.url;
        EXPECT_EQ(address->tls, c.tls) << c.url;
    }
    for (const std::string bad : {"localhost:1883", "http://x", "mqtt://", "mqtt://h:0",
                                  "mqtt://h:99999", "mqtt://u:p@h", "mqtt://h:"}) {
        std::string error;
        EXPECT_FALSE(ParseBrokerUrl(bad, &error)) << bad;
        EXPECT_THAT(error, HasSubstr("--mqtt")) << bad;
    }
}

TEST(BridgeOptions, PrefixesAndCommandTopics) {
    BridgeOptions options;
    std::string error;
    options.site = "north";
    EXPECT_EQ(TopicPrefix(options, &error), "roderavo/north");
    for (const std::string bad : {"a/+/b", "a/#", "/a", "a/", "a//b", "$SYS/x"}) {
        options.topicPrefix = bad;
        EXPECT_EQ(TopicPrefix(options, &error), "") << bad;
    }
    const Topics topics("plant/line1");
    EXPECT_EQ(topics.CommandFilter(), "plant/line1/mux/+/set/+");
    const auto command = topics.ParseCommand("plant/line1/mux/2/set/key");
    ASSERT_TRUE(command);
    EXPECT_EQ(command->mux, "2");
    EXPECT_EQ(command->word, "key");
    for (const std::string other :
         {"plant/line2/mux/2/set/key", "plant/line1/mux/2/result", "plant/line1/mux/2/set/",
          "plant/line1/mux//set/key", "plant/line1/mux/2/set/ihk/075"})
        EXPECT_FALSE(topics.ParseCommand(other)) << other;
    EXPECT_EQ(NodeName("roderavo/site 1"), "roderavo_site_1");
    // Two bridges with different prefixes never share a client id (and knock each
    // other off the broker); a prefix of letters, digits, - and / keeps its plain id.
    EXPECT_EQ(ClientId("roderavo/north-1"), "roderavo-roderavo_north-1");
    std::set<std::string> ids;
    for (const char* prefix : {"roderavo/north.1", "roderavo/north_1", "roderavo/north 1",
                               "roderavo_north/1", "roderavo/north/1"})
        EXPECT_TRUE(ids.insert(ClientId(prefix)).second) << prefix << " " << ClientId(prefix);
}

TEST(BridgeCommands, WhatEachCommandAsks) {
    struct Case {
        std::string mux, word, payload;
        bool retained;
        std::string assignment, id, refusal;
    };
    const std::vector<Case> cases = {
        {"1", "key", "53", false, "KEY1=53", "", ""},
        {"0", "ptz", " 128\n", false, "PTZ0=128", "", ""},
        {"2", "preset", "(9,13)", false, "PRESET2=(9,13)", "", ""},
        {"3", "inhpair", "(48,49,50,51,52,53)", false, "INHPAIR3=(48,49,50,51,52,53)", "", ""},
        {"3", "joy", "(10,-20,30)", false, "JOY3=(10,-20,30)", "", ""},
        {"0", "clock", "now", false, "TAD0=now", "", ""},
        {"2", "ihk", "075=(9,13)", false, "IHK2075=(9,13)", "", ""},
        {"4", "caa", "", false, "CAA=4", "", ""},
        {"4", "caa", "4", false, "CAA=4", "", ""},
        {"1", "KEY", R"({"value": 53, "id": "c-9"})", false, "KEY1=53", "c-9", ""},
        {"1", "key", R"j({"id":"x","value":"(9,13)"})j", false, "KEY1=(9,13)", "x", ""},
        {"4", "caa", "2", false, "", "", "clears the alarms of multiplexer 4"},
        {"2", "ihk", "(9,13)", false, "", "", "set/ihk takes SUBCOMMAND=(key codes)"},
        {"1", "key", "53", true, "", "", "a retained command is not run"},
        {"1", "reboot", "1", false, "", "", "set/reboot: no such command"},
        {"x", "key", "53", false, "", "", "the multiplexer is a number"},
        {"1", "key", R"({"value":53,)", false, "", "", "not a JSON object"},
    };
    for (const Case& c : cases) {
        const CommandRequest request = InterpretCommand({c.mux, c.word, c.payload, c.retained});
        EXPECT_EQ(request.assignment, c.assignment) << c.word << " " << c.payload;
        EXPECT_EQ(request.id, c.id) << c.payload;
        if (c.refusal.empty())
            EXPECT_EQ(request.refusal, "") << c.payload;
        else
            EXPECT_THAT(request.refusal, HasSubstr(c.refusal)) << c.payload;
    }
}

TEST(BridgeCommands, IdsAreRememberedUpToTheCapacity) {
    SeenCommands seen(2);
    seen.Remember("a", "0 done");
    seen.Remember("b", "1 refused");
    EXPECT_EQ(seen.ResultOf("a"), "0 done");
    seen.Remember("c", "0 done");
    EXPECT_FALSE(seen.ResultOf("a"));
    EXPECT_EQ(seen.ResultOf("b"), "1 refused");
}

// A command waits for the line only while it can still run on time: one to a
// multiplexer that cannot be reached is refused at once, one past its deadline is
// refused instead of run late, the rest keep their order, and all are answered when
// the queue closes. The bound counts the results that wait for the broker too.
TEST(BridgeCommands, TheQueueKeepsACommandOnlyWhileItCanRunOnTime) {
    using Clock = CommandQueue::Clock;
    const Clock::time_point start{std::chrono::hours(1)};
    CommandQueue queue(std::chrono::seconds(2));
    queue.SetUnreachable({{3, "absent"}, {4, "demoted"}});
    const auto modbus = [](const std::string& assignment) {
        Command command;
        command.modbus = Command::Modbus{assignment, "peer", [](uint8_t) {}};
        return command;
    };
    struct Row {
        Command command;
        int target;
        std::chrono::milliseconds arrived;  // after the start
        std::string refusal;                // looked at 1 s after the start, and again at 2.5 s
    };
    Row rows[] = {
        {{"1", "key", "53"}, 1, {}, "not started within 2.0 s (--command-deadline): not sent"},
        {{"3", "joy", "(1,2,3)"}, 3, {}, "multiplexer 3 is absent: not sent"},
        {modbus("KEY4=53"), 4, {}, "multiplexer 4 is demoted: not sent"},
        {modbus("CAA=3"), 3, {}, "multiplexer 3 is absent: not sent"},
        {modbus("IHK2075=(9,13)"), 2, std::chrono::milliseconds(600), ""},
        {{"x", "key", "53"}, -1, std::chrono::milliseconds(1000), ""},
        {{"0", "caa", ""}, 0, std::chrono::milliseconds(2000), ""},
    };
    for (Row& row : rows) {
        EXPECT_EQ(TargetMux(row.command), row.target);
        row.command.arrived = start + row.arrived;
        ASSERT_TRUE(queue.Push(row.command));
    }
    std::vector<std::string> refused, taken;
    for (const TakenCommand& t : queue.TakeRefused(start + std::chrono::seconds(1)))
        refused.push_back(t.refusal);
    while (auto t = queue.TryPop(start + std::chrono::milliseconds(2500)))
        taken.push_back(t->refusal);
    EXPECT_THAT(refused, ::testing::ElementsAre(rows[1].refusal, rows[2].refusal, rows[3].refusal));
    EXPECT_THAT(taken, ::testing::ElementsAre(rows[0].refusal, "", "", ""));

    // The bound: what is queued and the results that wait.
    ASSERT_TRUE(queue.Push({"1", "key", "53"}, kQueuedCommands - 2));
    EXPECT_FALSE(queue.Push({"1", "key", "53"}, kQueuedCommands - 1));
    EXPECT_FALSE(queue.Push({"1", "key", std::string(kLongestPayload + 1, '5')}));
    const auto closed = queue.Close("the bridge stops: not sent");
    ASSERT_EQ(closed.size(), 1u);
    EXPECT_EQ(closed[0].refusal, "the bridge stops: not sent");
    EXPECT_FALSE(queue.Push({"1", "key", "53"}));
}

TEST(BridgeStates, MultiplexerAndCameraStates) {
    MuxView view;
    view.mux = 1;
    EXPECT_EQ(PublishedMuxState(view, MuxState::Waiting), "");
    EXPECT_EQ(PublishedMuxState(view, MuxState::Failing), "absent");
    EXPECT_EQ(PublishedMuxState(view, MuxState::Demoted), "absent");
    view.lastGood = PollClock::now();
    EXPECT_EQ(PublishedMuxState(view, MuxState::Ok), "ok");
    EXPECT_EQ(PublishedMuxState(view, MuxState::Stale), "failing");
    EXPECT_EQ(PublishedMuxState(view, MuxState::Failing), "failing");
    EXPECT_EQ(PublishedMuxState(view, MuxState::Demoted), "demoted");
    view.alarm[0] = 0x20;
    view.alarm[1] = 0x00;
    view.videoLoss[1] = 1;
    view.alarm[2] = 0xFE;
    view.alarm[3] = 0x00;
    view.videoLoss[3] = 0;
    EXPECT_EQ(PublishedCameraState(view, "ok", 0), "alarm");
    EXPECT_EQ(PublishedCameraState(view, "ok", 1), "video-loss");
    EXPECT_EQ(PublishedCameraState(view, "ok", 2), "unknown");
    EXPECT_EQ(PublishedCameraState(view, "failing", 3), "fine");
    EXPECT_EQ(PublishedCameraState(view, "ok", 4), "");
    EXPECT_EQ(PublishedCameraState(view, "demoted", 0), "unknown");
}

// The Modbus map of a picture: multiplexer 0 ok (camera 3 in alarm, camera 5 in
// video loss, camera 7 in a state nobody knows), 1 demoted after answering, 3 polled but
// never read, 2 and 4 not polled.
TEST(BridgeModbusMap, ValuesOfTheMultiplexersThatAnswerOtherwiseTargetFailed) {
    const auto now = PollClock::now();
    MuxView ok;
    ok.mux = 0;
    ok.state = MuxState::Ok;
    ok.lastGood = now - std::chrono::seconds(3);
    for (auto& cell : ok.alarm) cell = 0;
    for (auto& cell : ok.videoLoss) cell = 0;
    ok.alarm[2] = 0x20;
    ok.videoLoss[4] = 1;
    ok.alarm[6] = 0xFE;
    ok.version = "AMUX 20CD V2.10";
    ok.clock = "07.12.2026 22:37:19 hrs";
    MuxView demoted = ok;
    demoted.mux = 1;
    demoted.state = MuxState::Demoted;
    demoted.lastGood = now - std::chrono::hours(30);
    MuxView never;
    never.mux = 3;
    never.state = MuxState::Demoted;
    ModbusMap map;
    map.Update({ok, demoted, never}, now, std::chrono::seconds(10));
    struct Row {
        const char* what;
        bool registers;  // input registers, else discrete inputs
        int address, count;
        std::vector<uint16_t> values;
        uint8_t exception = 0;
    };
    const Row rows[] = {
        {"alarm bits of mux 0", false, 0, 8, {0, 0, 1, 0, 0, 0, 0, 0}},
        {"video-loss bits of mux 0", false, 100, 6, {0, 0, 0, 0, 1, 0}},
        {"camera states of mux 0", true, 0, 8, {0, 0, 1, 0, 2, 0, 3, 0}},
        {"answering bits", false, 200, 5, {1, 0, 0, 0, 0}},
        {"mux states: ok, demoted", true, 100, 2, {0, 2}},
        {"mux 3's state, never read", true, 103, 1, {}, kModbusTargetFailed},
        {"ages, always readable", true, 105, 5, {3, 65535, 65535, 65535, 65535}},
        {"clock of mux 0", true, 110, 6, {2026, 12, 7, 22, 37, 19}},
        {"version of mux 0",
         true,
         140,
         9,
         {0x414D, 0x5558, 0x2032, 0x3043, 0x4420, 0x5632, 0x2E31, 0x3000, 0}},
        {"a camera of demoted mux 1", false, 20, 1, {}, kModbusTargetFailed},
        {"a read across into mux 1", true, 15, 10, {}, kModbusTargetFailed},
        {"mux 2, not polled", true, 40, 1, {}, kModbusTargetFailed},
        {"the clock of demoted mux 1", true, 116, 6, {}, kModbusTargetFailed},
        {"past the discrete inputs", false, 204, 2, {}, kModbusIllegalAddress},
        {"past the registers", true, 219, 2, {}, kModbusIllegalAddress},
        {"no register", true, 0, 0, {}, kModbusIllegalAddress},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const ModbusAnswer answer = row.registers ? map.InputRegisters(row.address, row.count)
                                                  : map.DiscreteInputs(row.address, row.count);
        EXPECT_EQ(answer.exception, row.exception);
        EXPECT_EQ(answer.values, row.values);
    }
}

// What each write of holding registers asks, and the writes that hit no single target.
TEST(BridgeModbusMap, HoldingRegistersAskOneAssignmentEach) {
    const struct {
        int address;
        std::vector<uint16_t> values;
        std::string assignment;
        uint8_t exception = 0;
    } rows[] = {
        {1001, {53}, "KEY1=53"},
        {1014, {128}, "PTZ4=128"},
        {1022, {9, 13}, "PRESET1=(9,13)"},
        {1030, {3}, "CAA=3"},
        {1042, {1}, "TAD2=now"},
        {1042, {2}, "", kModbusIllegalValue},
        {1020, {9}, "", kModbusIllegalAddress},       // a preset register alone
        {1021, {13, 9}, "", kModbusIllegalAddress},   // a pair across two presets
        {1000, {53, 53}, "", kModbusIllegalAddress},  // two targets
        {1005, {53}, "", kModbusIllegalAddress},
        {0, {1}, "", kModbusIllegalAddress},
    };
    for (const auto& row : rows) {
        const ModbusWrite write = HoldingWrite(row.address, row.values);
        EXPECT_EQ(write.assignment, row.assignment) << row.address;
        EXPECT_EQ(write.exception, row.exception) << row.address;
    }
    for (const auto& [text, address, port] :
         std::vector<std::tuple<std::string, std::string, int>>{{"1502", "127.0.0.1", 1502},
                                                                {":1502", "127.0.0.1", 1502},
                                                                {"0.0.0.0", "0.0.0.0", 502},
                                                                {"10.1.2.3:15", "10.1.2.3", 15}}) {
        std::string error;
        const auto endpoint = ParseModbusEndpoint(text, &error);
        ASSERT_TRUE(endpoint) << text << ": " << error;
        EXPECT_EQ(endpoint->address, address);
        EXPECT_EQ(endpoint->port, port);
    }
}

TEST(BridgeStates, RetainedOnChangeAndPublishedAgainOnConnection) {
    std::vector<std::string> sent;
    bool connected = true;
    StatePublisher publisher(
        Topics("p"), false, [&](const std::string& topic, const std::string& payload, bool retain) {
            if (!connected) return false;
            sent.push_back(topic + " " + payload + (retain ? " r" : ""));
            return true;
        });
    MuxView view;
    view.mux = 0;
    view.state = MuxState::Ok;
    view.lastGood = PollClock::now();
    view.version = "V";
    view.alarm[0] = 0;
    view.videoLoss[0] = 0;
    const auto now = PollClock::now();
    EXPECT_TRUE(publisher.Publish({view}, now, std::chrono::hours(1)).empty());
    EXPECT_THAT(sent, ::testing::ElementsAre("p/mux/0/availability online r", "p/mux/0/state ok r",
                                             "p/mux/0/version V r", "p/camera/1/state fine r"));
    sent.clear();
    publisher.Publish({view}, now, std::chrono::hours(1));
    EXPECT_TRUE(sent.empty());
    connected = false;
    view.alarm[0] = 0x20;
    EXPECT_EQ(publisher.Publish({view}, now, std::chrono::hours(1)), std::vector<int>{1});
    publisher.AlarmReport(1, "alarm", "06.11.2000 08:12:33 hrs Alarm");
    EXPECT_TRUE(sent.empty());
    connected = true;
    publisher.Republish();
    EXPECT_THAT(sent,
                ::testing::ElementsAre("p/camera/1/state alarm r", "p/mux/0/availability online r",
                                       "p/mux/0/state ok r", "p/mux/0/version V r",
                                       "p/camera/1/alarm 06.11.2000 08:12:33 hrs Alarm"));
}

}  // namespace
