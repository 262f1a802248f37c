// The bridge's parts without a broker: the broker's address, the topics, what a
// command asks for, the ids already run, the states as published.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <tuple>

#include "bridge/core/command_queue.h"
#include "bridge/core/command_words.h"
#include "bridge/core/picture.h"
#include "bridge/modbus/modbus_map.h"
#include "bridge/mqtt/backoff.h"
#include "bridge/mqtt/ha_discovery.h"
#include "bridge/mqtt/mqtt_face.h"
#include "bridge/mqtt/state_publisher.h"
#include "bridge/mqtt/topics.h"
#include "output/json_out.h"

using namespace roderavo::tool;
using namespace roderavo::tool::bridge;
using ::testing::HasSubstr;

namespace {

// A command in words, as a topic brings it.
Command Words(std::string mux, std::string word, std::string payload, bool retained = false) {
    Command command;
    command.mux = std::move(mux);
    command.word = std::move(word);
    command.payload = std::move(payload);
    command.retained = retained;
    return command;
}

TEST(BridgeOptions, BrokerUrls) {
    struct Case {
        std::string url, host;
        int port;
        bool tls;
    };
    for (const Case& c : std::vector<Case>{{"mqtt://localhost", "localhost", 1883, false},
                                           {"mqtt://10.1.2.3:1884", "10.1.2.3", 1884, false},
                                           {"mqtts://broker.example", "broker.example", 8883, true},
                                           {"mqtts://b:9000/", "b", 9000, true},
                                           {"mqtt://[::1]:1883", "::1", 1883, false}}) {
        std::string error;
        const auto address = ParseBrokerUrl(c.url, &error);
        ASSERT_TRUE(address) << c.url << ": " << error;
        EXPECT_EQ(address->host, c.host) << c.url;
        EXPECT_EQ(address->port, c.port) << c.url;
        EXPECT_EQ(address->tls, c.tls) << c.url;
    }
    for (const std::string bad :
         {"localhost:1883", "http://x", "mqtt://", "mqtt://h:0", "mqtt://h:99999", "mqtt://u:p@h",
          "mqtt://h:", "tcp://h", "ssl://h:8883"}) {
        std::string error;
        EXPECT_FALSE(ParseBrokerUrl(bad, &error)) << bad;
        EXPECT_THAT(error, HasSubstr("--mqtt")) << bad;
    }
}

// Many draws for each nominal wait: every wait within a quarter of it either way, never
// beyond --reconnect-max, and spread (bridges that lost one broker do not return at once).
TEST(BridgeOptions, ReconnectionWaitsAreSpreadAndBounded) {
    struct Case {
        long long nominal, longest, least, most;  // ms; least and most: the bounds drawn
    };
    const std::vector<Case> cases = {
        {100, 400, 75, 125},          {400, 400, 300, 400},  // --reconnect-max holds
        {30000, 30000, 22500, 30000}, {1000, 60000, 750, 1250}, {0, 400, 0, 0},
    };
    std::mt19937_64 random(31);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nominal);
        std::set<long long> seen;
        for (int draw = 0; draw < 2000; ++draw) {
            const long long wait = Jittered(std::chrono::milliseconds(c.nominal),
                                            std::chrono::milliseconds(c.longest), random)
                                       .count();
            ASSERT_GE(wait, c.least);
            ASSERT_LE(wait, c.most);
            seen.insert(wait);
        }
        // Over the whole range, not a few values at one end of it.
        if (c.nominal > 0) {
            EXPECT_GT(seen.size(), std::min<std::size_t>(100, (c.most - c.least) / 4));
            EXPECT_LE(*seen.begin(), c.least + (c.most - c.least) / 10);
            EXPECT_GE(*seen.rbegin(), c.most - (c.most - c.least) / 10);
        }
    }
}

TEST(BridgeOptions, PrefixesAndCommandTopics) {
    std::string error;
    EXPECT_EQ(TopicPrefix("", "north", &error), "roderavo/north");
    for (const std::string bad : {"a/+/b", "a/#", "/a", "a/", "a//b", "$SYS/x"})
        EXPECT_EQ(TopicPrefix(bad, "north", &error), "") << bad;
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
    EXPECT_EQ(ClientId("roderavo/x_y"), "roderavo-roderavo_x.5Fy");
    // x/y-ac68fa54: ac68fa54 is the hash an earlier scheme appended to x_y. Long prefixes
    // differ in their last character only.
    const std::string longPrefix = "roderavo/" + std::string(200, 'n');
    std::set<std::string> ids;
    for (const std::string& prefix :
         {std::string("roderavo/north.1"), std::string("roderavo/north_1"), longPrefix + "1",
          std::string("roderavo/north 1"), std::string("roderavo_north/1"), longPrefix + "2",
          std::string("roderavo/north/1"), std::string("roderavo/x_y"),
          std::string("roderavo/x/y-ac68fa54"), std::string("roderavo/x/y.5Fy")}) {
        const std::string id = ClientId(prefix);
        EXPECT_TRUE(ids.insert(id).second) << prefix << " " << id;
        EXPECT_LE(id.size(), 64u) << prefix;
        if (prefix.size() > 64) {
            EXPECT_THAT(id, ::testing::MatchesRegex(".*~[0-9a-f]{16}"));
        }
    }
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
        {"1", "key", R"({"value":53,"id":"r1"})", true, "", "r1", "a retained command is not"},
        {"1", "reboot", "1", false, "", "", "set/reboot: no such command"},
        {"x", "key", "53", false, "", "", "the multiplexer is a number"},
        {"1", "key", R"({"value":53,)", false, "", "", "not a JSON object"},
    };
    for (const Case& c : cases) {
        const CommandRequest request =
            InterpretCommand(Words(c.mux, c.word, c.payload, c.retained));
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
    const auto record = [](const char* explanation) {
        CommandResult result;
        result.explanation = explanation;
        return result;
    };
    seen.Remember("a", record("done"));
    seen.Remember("b", record("refused"));
    EXPECT_EQ(seen.ResultOf("a")->explanation, "done");
    seen.Remember("c", record("done"));
    EXPECT_FALSE(seen.ResultOf("a"));
    EXPECT_EQ(seen.ResultOf("b")->explanation, "refused");
}

// A command waits for the line only while it can still run on time: one to a
// multiplexer that cannot be reached is refused at once, one past its deadline is
// refused instead of run late (but a repeat of an id that ran is answered as that run),
// the rest keep their order, and all are answered when the queue closes. The bound counts the
// results that wait for the broker too.
TEST(BridgeCommands, TheQueueKeepsACommandOnlyWhileItCanRunOnTime) {
    using Clock = CommandQueue::Clock;
    const Clock::time_point start{std::chrono::hours(1)};
    CommandQueue queue(std::chrono::seconds(2));
    queue.SetUnreachable({{3, "absent"}, {4, "demoted"}});
    const auto modbus = [](const std::string& assignment) {
        Command command;
        command.face = "modbus";
        command.assignment = assignment;
        command.peer = "peer";
        return command;
    };
    struct Row {
        Command command;
        int target;
        std::chrono::milliseconds arrived;  // after the start
        std::string refusal;                // looked at 1 s after the start, and again at 2.5 s
    };
    Row rows[] = {
        {Words("1", "key", "53"), 1, {}, "not started within 2.0 s (--command-deadline): not sent"},
        {Words("3", "joy", "(1,2,3)"), 3, {}, "multiplexer 3 is absent: not sent"},
        {modbus("KEY4=53"), 4, {}, "multiplexer 4 is demoted: not sent"},
        {modbus("CAA=3"), 3, {}, "multiplexer 3 is absent: not sent"},
        {modbus("IHK2075=(9,13)"), 2, std::chrono::milliseconds(600), ""},
        {Words("x", "key", "53"), -1, std::chrono::milliseconds(1000), ""},
        {Words("0", "caa", ""), 0, std::chrono::milliseconds(2000), ""},
        // Repeats of an id that ran: taken, to be answered with that run's record.
        {Words("1", "key", R"({"value":"53","id":"r1"})"), 1, {}, ""},
        {Words("3", "key", R"({"value":"53","id":"r1"})"), 3, {}, ""},
    };
    CommandResult ran;
    ran.explanation = "KEY1=53 done";
    queue.Remember("r1", ran);
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
    EXPECT_THAT(taken, ::testing::ElementsAre(rows[0].refusal, "", "", "", "", ""));
    EXPECT_EQ(queue.ResultOf("r1")->explanation, "KEY1=53 done");

    // The bound: what is queued and the results that wait.
    ASSERT_TRUE(queue.Push(Words("1", "key", "53"), kQueuedCommands - 2));
    EXPECT_FALSE(queue.Push(Words("1", "key", "53"), kQueuedCommands - 1));
    EXPECT_FALSE(queue.Push(Words("1", "key", std::string(kLongestPayload + 1, '5'))));
    const auto closed = queue.Close("the bridge stops: not sent");
    ASSERT_EQ(closed.size(), 1u);
    EXPECT_EQ(closed[0].refusal, "the bridge stops: not sent");
    EXPECT_FALSE(queue.Push(Words("1", "key", "53")));
}

// Every face answers from the one record a command ends with: the MQTT result (text or
// JSON, a repeated id marked) and the Modbus exception code.
TEST(BridgeCommands, OneRecordAnswersEveryFace) {
    const struct {
        Outcome outcome;
        int32_t result;
        uint8_t exception;
        const char* text;
    } rows[] = {
        {Outcome::kDone, 0, 0, "0 KEY1=53 done"},
        {Outcome::kRefused, 1, kModbusIllegalValue, "1 KEY1=53 done"},
        {Outcome::kNotSent, 1, kModbusTargetFailed, "1 KEY1=53 done"},
        {Outcome::kBusy, 1, kModbusBusy, "1 KEY1=53 done"},
        {Outcome::kRefusedByMux, -5, kModbusDeviceFailure, "-5 KEY1=53 done"},
        {Outcome::kLineFailed, -7, kModbusTargetFailed, "-7 KEY1=53 done"},
    };
    for (const auto& row : rows) {
        CommandResult result;
        result.outcome = row.outcome;
        result.result = row.result;
        result.explanation = "KEY1=53 done";
        EXPECT_EQ(ExceptionOf(result), row.exception) << row.text;
        EXPECT_EQ(ResultPayload(result, false), row.text);
    }
    CommandResult result;
    result.mux = "1";
    result.word = "key";
    result.gate = "KEY1";
    result.value = "53";
    result.id = "c-1";
    result.explanation = "KEY1=53 done";
    result.duplicate = true;
    EXPECT_EQ(ResultPayload(result, false),
              "0 KEY1=53 done (id c-1 was run before: not run again)");
    const Json record = Json::parse(ResultPayload(result, true));
    EXPECT_EQ(record, Json::parse(R"({"mux":1,"command":"key","gate":"KEY1","value":"53",
        "id":"c-1","result":0,"explanation":"KEY1=53 done","duplicate":true})"));
}

TEST(BridgeStates, MultiplexerAndCameraStates) {
    MuxView view;
    view.mux = 1;
    const auto mux = [&](MuxState state) { return Word(ShownMux(view, state)); };
    EXPECT_EQ(mux(MuxState::Waiting), "");
    EXPECT_EQ(mux(MuxState::Failing), "absent");
    EXPECT_EQ(mux(MuxState::Demoted), "absent");
    view.lastGood = PollClock::now();
    EXPECT_EQ(mux(MuxState::Ok), "ok");
    EXPECT_EQ(mux(MuxState::Stale), "failing");
    EXPECT_EQ(mux(MuxState::Failing), "failing");
    EXPECT_EQ(mux(MuxState::Demoted), "demoted");
    view.alarm[0] = 0x20;
    view.alarm[1] = 0x00;
    view.videoLoss[1] = 1;
    view.alarm[2] = 0xFE;
    view.alarm[3] = 0x00;
    view.videoLoss[3] = 0;
    const auto camera = [&](MuxShown state, int index) {
        return Word(ShownCamera(view, state, index));
    };
    EXPECT_EQ(camera(MuxShown::kOk, 0), "alarm");
    EXPECT_EQ(camera(MuxShown::kOk, 1), "video-loss");
    EXPECT_EQ(camera(MuxShown::kOk, 2), "unknown");
    EXPECT_EQ(camera(MuxShown::kFailing, 3), "fine");
    EXPECT_EQ(camera(MuxShown::kOk, 4), "");
    EXPECT_EQ(camera(MuxShown::kDemoted, 0), "unknown");
    EXPECT_EQ(camera(MuxShown::kAbsent, 3), "unknown");
    EXPECT_EQ(camera(MuxShown::kNotYet, 0), "") << "nothing shown before the first turn";
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
    const auto picture = [&] { return Picture({view}, std::chrono::hours(1)); };
    const Picture first = picture();
    EXPECT_TRUE(NewAlarms(nullptr, first).empty());
    publisher.Publish(first, now);
    EXPECT_THAT(sent, ::testing::ElementsAre("p/mux/0/availability online r", "p/mux/0/state ok r",
                                             "p/mux/0/version V r", "p/camera/1/state fine r"));
    sent.clear();
    publisher.Publish(picture(), now);
    EXPECT_TRUE(sent.empty());
    connected = false;
    view.alarm[0] = 0x20;
    const Picture alarm = picture();
    EXPECT_EQ(NewAlarms(&first, alarm), std::vector<int>{1});
    EXPECT_TRUE(NewAlarms(&alarm, picture()).empty());
    publisher.Publish(alarm, now);
    publisher.AlarmReport(1, "alarm", "06.11.2000 08:12:33 hrs Alarm");
    EXPECT_TRUE(sent.empty());
    connected = true;
    publisher.Republish();
    EXPECT_THAT(sent,
                ::testing::ElementsAre("p/camera/1/state alarm r", "p/mux/0/availability online r",
                                       "p/mux/0/state ok r", "p/mux/0/version V r",
                                       "p/camera/1/alarm 06.11.2000 08:12:33 hrs Alarm"));
}

// With JSON payloads a camera carries both flags; one whose multiplexer no longer
// answers is unknown, and so is its video loss: nothing old is shown as true now.
TEST(BridgeStates, JsonCameraStatesCarryOnlyWhatIsKnown) {
    std::map<std::string, std::string> sent;
    StatePublisher publisher(Topics("p"), true,
                             [&](const std::string& topic, const std::string& payload, bool) {
                                 sent[topic] = payload;
                                 return true;
                             });
    MuxView view;
    view.mux = 0;
    view.lastGood = PollClock::now();
    view.alarm[0] = 0;
    view.videoLoss[0] = 1;
    const struct {
        MuxState state;
        const char* camera;
    } steps[] = {
        {MuxState::Ok, R"("state":"video-loss","alarm":false,"videoLoss":true)"},
        {MuxState::Demoted, R"("state":"unknown","alarm":false,"videoLoss":false)"},
    };
    for (const auto& step : steps) {
        view.state = step.state;
        publisher.Publish(Picture({view}, std::chrono::hours(1)), PollClock::now());
        EXPECT_THAT(sent["p/camera/1/state"], HasSubstr(step.camera));
    }
}

// The discovery of a bridge: a device of its own, the multiplexers' devices linked to
// it, entity names that Home Assistant puts after the device's name, and the topics
// of its node that it does not publish now emptied (Home Assistant then drops them).
TEST(BridgeDiscovery, DevicesEntitiesAndWhatIsRemoved) {
    const Topics topics("roderavo/north");
    const auto messages = DiscoveryMessages(topics, "ha", "north", {1}, true);
    std::map<std::string, Json> configs;
    for (const auto& message : messages) configs[message.topic] = Json::parse(message.payload);
    const struct {
        std::string topic, name;
        Json fields;  // besides the name: what the entity must say
    } rows[] = {
        {"sensor/mux1_state",
         "state",
         {{"device_class", "enum"}, {"options", {"ok", "failing", "demoted", "absent"}}}},
        {"sensor/mux1_version", "version", {{"entity_category", "diagnostic"}}},
        {"sensor/mux1_clock", "clock", {{"entity_category", "diagnostic"}}},
        {"sensor/mux1_statistics",
         "statistics",
         {{"entity_category", "diagnostic"},
          {"json_attributes_topic", "roderavo/north/mux/1/statistics"}}},
        {"binary_sensor/camera27_alarm", "camera 27 alarm", {{"device_class", "safety"}}},
        {"button/mux1_clear_alarms", "clear alarms", {{"payload_press", "1"}}},
        {"binary_sensor/bridge_status",
         "status",
         {{"entity_category", "diagnostic"}, {"device_class", "connectivity"}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.topic);
        const auto slash = row.topic.find('/');
        const std::string topic = "ha/" + row.topic.substr(0, slash) + "/roderavo_north/" +
                                  row.topic.substr(slash + 1) + "/config";
        ASSERT_EQ(configs.count(topic), 1u);
        const Json& config = configs[topic];
        EXPECT_EQ(config["name"], row.name);
        for (const auto& [key, value] : row.fields.items()) EXPECT_EQ(config[key], value) << key;
    }
    const Json& bridgeDevice =
        configs["ha/binary_sensor/roderavo_north/bridge_status/config"]["device"];
    EXPECT_EQ(bridgeDevice["identifiers"], Json({"roderavo_north"}));
    EXPECT_THAT(bridgeDevice["sw_version"].get<std::string>(), ::testing::MatchesRegex("[0-9.]+"));
    for (const auto& [topic, config] : configs) {
        const std::string device = config["device"]["name"];
        EXPECT_EQ(config["name"].get<std::string>().find("multiplexer"), std::string::npos)
            << topic;
        if (topic.find("bridge_status") == std::string::npos) {
            EXPECT_EQ(device, "north multiplexer 1") << topic;
            EXPECT_EQ(config["device"]["via_device"], "roderavo_north") << topic;
        }
    }
    // What a connection publishes: the configurations, or every topic of the node emptied.
    for (const bool enabled : {true, false}) {
        std::map<std::string, std::string> sent;
        for (const auto& message : DiscoveryAtConnection(topics, "ha", "north", {1}, true, enabled))
            EXPECT_TRUE(sent.emplace(message.topic, message.payload).second) << message.topic;
        for (const auto& [topic, config] : configs)
            EXPECT_EQ(sent[topic].empty(), !enabled) << topic;
        const std::string elsewhere = "ha/binary_sensor/roderavo_north/camera1_alarm/config";
        ASSERT_EQ(sent.count(elsewhere), 1u) << "multiplexer 0, not polled";
        EXPECT_EQ(sent[elsewhere], "");
        EXPECT_EQ(sent.size(), 5 * (configs.size() - 1) + 1);
    }
}

}  // namespace
