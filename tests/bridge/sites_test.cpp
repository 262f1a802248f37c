// roderavo sites against a real mosquitto: one real bridge on muxsim (site north, its
// multiplexer 4 absent) beside retained messages that stand for a second bridge (site
// south). Each verdict of --check from what the broker really keeps: OK, WARNING,
// CRITICAL (a site named but missing, the bridge killed and its last will), UNKNOWN (no
// broker); --json, and --watch following the kill.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <muxsim/simulator.h>

#include <csignal>
#include <fstream>
#include <nlohmann/json.hpp>

#include "bridge/broker.h"
#include "output/text.h"

using ::testing::ContainsRegex;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using namespace roderavo_test;
using namespace std::chrono_literals;

namespace {

class SitesOnBroker : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(sim.StartOnPty());
        sim.SetPresent(4, false);
        std::string why;
        ASSERT_TRUE(broker.Start({}, &why)) << why;
    }
    void TearDown() override {
        if (bridge) bridge->Stop(SIGTERM, 5s);
        sim.Stop();
    }

    std::string Url() const { return "mqtt://127.0.0.1:" + std::to_string(broker.Port()); }

    ProgramRun Sites(std::vector<std::string> extra) {
        std::vector<std::string> args = {"sites", "--mqtt", Url(), "--timeout", "3s"};
        args.insert(args.end(), extra.begin(), extra.end());
        ChildProgram sites(RODERAVO_TOOL, args, ChildProgram::Stderr::Pipe);
        return sites.Collect(30s);
    }

    // What a second bridge, of site south, leaves retained.
    void PublishSouth(Probe& probe) {
        const std::string p = "roderavo/south";
        for (const auto& [topic, payload] : std::vector<std::pair<std::string, std::string>>{
                 {p + "/mux/0/state", R"({"mux":0,"state":"ok","lastError":"","time":"x"})"},
                 {p + "/camera/3/state", "fine"},
                 {p + "/mux/0/statistics",
                  R"({"reads":1,"time":")" + roderavo::tool::IsoTimestampNow() + R"("})"},
                 {p + "/status", "online"}})
            ASSERT_TRUE(probe.Publish(topic, payload, true));
    }

    muxsim::Simulator sim;
    TestBroker broker;
    std::unique_ptr<ChildProgram> bridge;
};

TEST_F(SitesOnBroker, EachVerdictFromRealBridges) {
    Probe probe(broker.Port(), "roderavo/#");
    ASSERT_TRUE(probe.Connected(5s));
    PublishSouth(probe);
    bridge = std::make_unique<ChildProgram>(
        RODERAVO_TOOL,
        std::vector<std::string>{"bridge", "--driver", RODERAVO_DRIVER, "--port", sim.PortName(),
                                 "--site", "north", "--mux", "0,1,4", "--poll-interval", "200ms",
                                 "--timeout", "100ms", "--mqtt", Url()},
        ChildProgram::Stderr::File);
    ASSERT_TRUE(probe.WaitFor("roderavo/north/mux/4/state", "absent", 20s)) << bridge->Errors();
    ASSERT_TRUE(probe.WaitFor("roderavo/north/mux/1/state", "ok"));

    // The broker from a bridge's site file; its [mqtt] json is the payloads', not ours.
    const std::string site = broker.Folder().File("north.toml");
    std::ofstream(site) << "[mqtt]\nurl = \"" << Url() << "\"\njson = true\n";
    ChildProgram fromFile(RODERAVO_TOOL, {"sites", "--config", site, "--check", "--site", "south"},
                          ChildProgram::Stderr::Pipe);
    ProgramRun run = fromFile.Collect(30s);
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_THAT(run.out, StartsWith("RODERAVO OK - 1 site online | sites=1;;; online=1;;;"));
    EXPECT_THAT(run.out, ContainsRegex(" statistics_age=[0-9]s;;;\n$"));
    run = Sites({"--check"});
    EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
    EXPECT_THAT(run.out,
                StartsWith("RODERAVO WARNING - north mux 4 absent, north 20 cameras unknown |"));
    run = Sites({"--check", "--site", "north", "--site", "east"});
    EXPECT_EQ(run.exitCode, 2) << run.out << run.err;
    EXPECT_THAT(run.out,
                StartsWith("RODERAVO CRITICAL - east missing, north mux 4 absent, north 20"));

    run = Sites({"--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto sites = nlohmann::json::parse(run.out);
    ASSERT_EQ(sites.size(), 2u) << run.out;
    EXPECT_EQ(sites[0]["site"], "north");
    EXPECT_EQ(sites[0]["muxes"].dump(),
              R"([{"mux":0,"state":"ok"},{"mux":1,"state":"ok"},{"mux":4,"state":"absent"}])");
    EXPECT_EQ(sites[0]["cameras"]["unknown"], 20);     // those of the absent multiplexer
    EXPECT_TRUE(sites[0]["statisticsAge"].is_null());  // none before --statistics-every
    EXPECT_EQ(sites[1]["status"], "online");
    EXPECT_LT(sites[1]["statisticsAge"].get<int>(), 10);  // published as the test began

    // Killed, the bridge is said offline by its last will, and the live view follows.
    ChildProgram watch(RODERAVO_TOOL, {"sites", "--mqtt", Url(), "--watch", "--site", "north"});
    ASSERT_THAT(watch.ReadLine(10s), StartsWith("SITE "));
    ASSERT_THAT(watch.ReadLine(10s), StartsWith("north  online "));
    EXPECT_EQ(bridge->Stop(SIGKILL, 5s), 128 + SIGKILL);
    bridge.reset();
    // Each table ends with an empty line; the next one shows north offline.
    EXPECT_EQ(watch.ReadLine(10s), "");
    EXPECT_THAT(watch.ReadLine(10s), StartsWith("SITE "));
    EXPECT_THAT(watch.ReadLine(10s), StartsWith("north  offline "));
    EXPECT_EQ(watch.Stop(SIGTERM, 5s), 0);
    run = Sites({"--check"});
    EXPECT_EQ(run.exitCode, 2) << run.out << run.err;
    EXPECT_THAT(run.out,
                StartsWith("RODERAVO CRITICAL - north offline, north mux 4 absent, north 20"));

    broker.Stop();
    const std::string port = std::to_string(broker.Port());
    run = Sites({"--check"});
    EXPECT_EQ(run.exitCode, 3) << run.out << run.err;
    EXPECT_EQ(run.out, "RODERAVO UNKNOWN - cannot connect to the broker 127.0.0.1:" + port +
                           ": Connection refused\n");
    run = Sites({"--check", "--watch"});  // a wrong command line is UNKNOWN to a monitor
    EXPECT_EQ(run.exitCode, 3) << run.err;
    run = Sites({});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_THAT(run.err, HasSubstr("cannot connect to the broker 127.0.0.1:" + port));
}

}  // namespace
