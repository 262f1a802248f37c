// Several lines on one host, as roderavo-bridge@LINE runs them: the template unit's
// ExecStart and Environment with %i filled in and /etc/roderavo moved to the test's
// folder, one site file per line, four muxsims and one broker. Each bridge publishes
// under its own prefix only, and stopping one leaves the others as they were.
#include <gtest/gtest.h>
#include <muxsim/simulator.h>

#include <array>
#include <csignal>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "bridge/broker.h"

using namespace roderavo_test;
using namespace std::chrono_literals;

namespace {

std::string Replaced(std::string text, const std::string& what, const std::string& by) {
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + by.size()))
        text.replace(at, what.size(), by);
    return text;
}

std::vector<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

// The command systemd runs for roderavo-bridge@LINE: the unit's Environment= set, its
// ExecStart with $NAME split into words as systemd splits it.
std::vector<std::string> TemplateCommand(const std::string& line, const std::string& etc) {
    std::ifstream unit(TEMPLATE_UNIT);
    std::map<std::string, std::string> environment;
    std::string execStart;
    for (std::string text; std::getline(unit, text);) {
        text = Replaced(Replaced(text, "%i", line), "/etc/roderavo", etc);
        if (text.rfind("Environment=", 0) == 0) {
            std::string assignment = text.substr(12);
            if (assignment.size() > 1 && assignment.front() == '"')
                assignment = assignment.substr(1, assignment.size() - 2);
            const auto equals = assignment.find('=');
            environment[assignment.substr(0, equals)] = assignment.substr(equals + 1);
        } else if (text.rfind("ExecStart=", 0) == 0) {
            execStart = text.substr(10);
        }
    }
    std::vector<std::string> command;
    for (const std::string& word : Words(execStart)) {
        if (word.front() != '$') {
            command.push_back(word);
            continue;
        }
        for (const std::string& part : Words(environment[word.substr(1)])) command.push_back(part);
    }
    return command;
}

struct Line {
    Line(std::string lineName, int alarmCamera) : name(std::move(lineName)), camera(alarmCamera) {}
    std::string name;
    int camera;  // in alarm on this line's muxsim only
    muxsim::Simulator sim;
    std::unique_ptr<ChildProgram> bridge;
    std::string Prefix() const { return "roderavo/" + name + "/"; }
};

void WriteSiteFile(const std::string& path, const Line& line, int brokerPort) {
    std::ofstream(path) << "driver = \"" << RODERAVO_DRIVER << "\"\n"
                        << "[line]\nport = \"" << line.sim.PortName() << "\"\n"
                        << "timeout = \"100ms\"\n[poll]\ninterval = \"200ms\"\nmuxes = [0]\n"
                        << "[mqtt]\nurl = \"mqtt://127.0.0.1:" << brokerPort << "\"\n"
                        << "site = \"" << line.name << "\"\n"
                        << "[modbus]\nlisten = \"127.0.0.1:" << FreePort() << "\"\n"
                        << "[http]\nlisten = \"127.0.0.1:" << FreePort() << "\"\n";
}

// The line a topic belongs to (under its prefix, or its Home Assistant discovery), or
// nullptr.
const Line* OwnerOf(const std::array<Line, 4>& lines, const std::string& topic) {
    for (const Line& line : lines) {
        if (topic.rfind(line.Prefix(), 0) == 0) return &line;
        if (topic.rfind("homeassistant/", 0) == 0 &&
            topic.find("/roderavo_" + line.name + "/") != std::string::npos)
            return &line;
    }
    return nullptr;
}

// The line's muxsim (its version and its camera in alarm) and its bridge, started as
// roderavo-bridge@LINE would be with the broker's folder as /etc/roderavo.
void StartLine(Line& line, const TestBroker& broker) {
    ASSERT_TRUE(line.sim.StartOnPty());
    line.sim.SetVersion(0, "LINE " + line.name);
    line.sim.SetCameraState(line.camera, muxsim::CameraState::Alarm);
    WriteSiteFile(broker.Folder().File(line.name + ".toml"), line, broker.Port());
    const auto command = TemplateCommand(line.name, broker.Folder().Path());
    ASSERT_GE(command.size(), 2u);
    line.bridge = std::make_unique<ChildProgram>(
        command[0], std::vector<std::string>(command.begin() + 1, command.end()),
        ChildProgram::Stderr::File);
}

TEST(TemplateUnit, FourLinesOnOneBrokerEachUnderItsOwnPrefix) {
    TestBroker broker;
    std::string why;
    ASSERT_TRUE(broker.Start({}, &why)) << why;
    Probe all(broker.Port(), "#");
    ASSERT_TRUE(all.Connected(5s));
    std::array<Line, 4> lines{{{"north", 3}, {"south", 4}, {"east", 5}, {"west", 6}}};
    for (Line& line : lines) ASSERT_NO_FATAL_FAILURE(StartLine(line, broker));
    for (Line& line : lines) {
        for (const auto& [topic, payload] : std::vector<std::pair<std::string, std::string>>{
                 {"status", "online"},
                 {"mux/0/version", "LINE " + line.name},
                 {"camera/" + std::to_string(line.camera) + "/state", "alarm"},
                 {"camera/9/state", "fine"},  // the last of the first picture's cameras
                 {"camera/" + std::to_string(line.camera) + "/alarm", ""}})  // its report
            ASSERT_TRUE(all.WaitFor(line.Prefix() + topic, payload)) << line.bridge->Errors();
    }
    // Every topic is one line's, and what it says is that line's: its version, its
    // camera's alarm, no other line's topics in discovery.
    for (const Message& message : all.Messages()) {
        const Line* owner = OwnerOf(lines, message.topic);
        ASSERT_NE(owner, nullptr) << message.topic;
        if (message.topic.find("/version") != std::string::npos) {
            EXPECT_EQ(message.payload, "LINE " + owner->name) << message.topic;
        }
        if (message.payload == "alarm") {
            EXPECT_EQ(message.topic,
                      owner->Prefix() + "camera/" + std::to_string(owner->camera) + "/state");
        }
        for (const Line& other : lines) {
            if (&other != owner) {
                EXPECT_EQ(message.payload.find(other.Prefix()), std::string::npos) << message.topic;
            }
        }
    }

    // One stops; the others' status, states and availability stay as they were while
    // their lines are polled on.
    all.Clear();
    EXPECT_EQ(lines[0].bridge->Stop(SIGTERM, 5s), 0) << lines[0].bridge->Errors();
    EXPECT_TRUE(all.WaitFor(lines[0].Prefix() + "status", "offline"));
    for (std::size_t i = 1; i < lines.size(); ++i)
        ASSERT_TRUE(lines[i].sim.WaitForFrames(lines[i].sim.Received().size() + 8, 10s));
    for (const Message& message : all.Messages()) {
        const Line* owner = OwnerOf(lines, message.topic);
        if (owner == &lines[0] || message.topic.rfind("homeassistant/", 0) == 0 ||
            message.topic.find("/clock") != std::string::npos)
            continue;
        ADD_FAILURE() << "after another line stopped: " << message.topic << " " << message.payload;
    }
    Probe later(broker.Port(), "roderavo/+/status");
    ASSERT_TRUE(later.Connected(5s));
    for (std::size_t i = 1; i < lines.size(); ++i)
        EXPECT_TRUE(later.WaitFor(lines[i].Prefix() + "status", "online"));
    for (std::size_t i = 1; i < lines.size(); ++i) EXPECT_EQ(lines[i].bridge->Stop(SIGTERM, 5s), 0);
    for (Line& line : lines) line.sim.Stop();
}

}  // namespace
