// The site file (--config): each key is used, each option on the command line wins
// over it, and a file that cannot be used is named with the line and key.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include "tool_fixture.h"

using ::testing::HasSubstr;

namespace {

class ToolSiteFile : public ToolOnSimulator {
  protected:
    void TearDown() override {
        std::filesystem::remove_all(dir_);
        ToolOnSimulator::TearDown();
    }

    // {port}, {driver} and {file} replaced.
    std::string Expand(std::string text) const {
        const std::pair<std::string, std::string> names[] = {
            {"{port}", sim.PortName()}, {"{driver}", RODERAVO_DRIVER}, {"{file}", file_}};
        for (const auto& [name, value] : names)
            for (auto at = text.find(name); at != std::string::npos; at = text.find(name))
                text.replace(at, name.size(), value);
        return text;
    }

    // The tool with --config, the site file written first unless it is nullopt.
    ToolRun RunWithSite(const std::optional<std::string>& site, std::vector<std::string> args) {
        std::filesystem::create_directories(dir_);
        std::filesystem::remove(file_);
        if (site) std::ofstream(file_) << Expand(*site);
        for (auto& arg : args) arg = Expand(arg);
        args.insert(args.begin() + 1, {"--config", file_});
        return RunTool(args);
    }

    const std::filesystem::path dir_ =
        std::filesystem::temp_directory_path() / ("roderavo-site-" + std::to_string(getpid()));
    const std::string file_ = (dir_ / "site.toml").string();
};

// Each row: a file whose value for one key shows when it is used (alone), and the
// option that must win over it.
TEST_F(ToolSiteFile, EachKeyIsUsedAndTheCommandLineWinsOverIt) {
    const std::string site = "port = \"{port}\"\ndriver = \"{driver}\"\n";
    const std::vector<std::string> poll = {"poll", "--cycles", "1", "--json"};
    struct Row {
        std::string file;
        int alone;
        std::string saysAlone;
        std::vector<std::string> option;
        std::vector<std::string> args = {"read", "VER1"};
        std::string saysWithOption = "VER1 = TEST V1";
    };
    const std::vector<Row> rows = {
        {"port = \"ttyUSB77\"\ndriver = \"{driver}\"",
         2,
         "no device /dev/ttyUSB77",
         {"--port", "{port}"}},
        {"driver = \"/none/libnone.so\"\nport = \"{port}\"",
         2,
         "/none/libnone.so",
         {"--driver", "{driver}"}},
        {site + "baud = 70000", 1, "{file}:3:8: baud 70000: the driver takes", {"--baud", "9600"}},
        {site + "data_bits = 9", 1, "{file}:3:13: data_bits takes 5..8", {"--data-bits", "8"}},
        {site + "parity = \"seven\"", 1, "{file}:3:10: parity takes", {"--parity", "even"}},
        {site + "stop_bits = 3", 1, "{file}:3:13: stop_bits takes 1", {"--stop-bits", "2"}},
        {site + "timeout = 5", 1, "{file}:3:11: timeout 5: give 10ms", {"--timeout", "200ms"}},
        {site + "poll_interval = \"1ms\"",
         1,
         "{file}:3:17: poll_interval 1ms: give 0",
         {"--poll-interval", "2s"}},
        {site + "log = \"/none/site.log\"",
         1,
         "cannot write the log file /none/site.log",
         {"--log", "{file}.log"}},
        {"driver = \"{driver}\"\n[line]\nport = \"ttyUSB77\"",
         2,
         "no device /dev/ttyUSB77",
         {"--port", "{port}"}},
        {site + "[poll]\nmuxes = [2]\ninterval = \"200ms\"\n[mqtt]\njson = true",
         0,
         R"("statistics":[{"mux":2,)",
         {"--mux", "3"},
         poll,
         R"("statistics":[{"mux":3,)"},
        {site + "muxes = [2]",
         0,
         R"("statistics":[{"mux":2,)",
         {"--mux", "3"},
         poll,
         R"("statistics":[{"mux":3,)"},
    };
    for (const Row& row : rows) {
        const ToolRun alone = RunWithSite(row.file, row.args);
        EXPECT_EQ(alone.exitCode, row.alone) << row.file << "\n" << alone.err;
        EXPECT_THAT(alone.out + alone.err, HasSubstr(Expand(row.saysAlone))) << row.file;
        std::vector<std::string> args = row.args;
        args.insert(args.begin() + 1, row.option.begin(), row.option.end());
        const ToolRun given = RunWithSite(row.file, args);
        EXPECT_EQ(given.exitCode, 0) << row.file << "\n" << given.err;
        EXPECT_THAT(given.out, HasSubstr(row.saysWithOption)) << row.file;
    }
}

TEST_F(ToolSiteFile, AFileThatCannotBeUsedIsNamedWithLineAndKey) {
    struct Row {
        std::optional<std::string> file;
        std::string says;
    };
    const std::vector<Row> rows = {
        {"port = \"{port}\"\nbauds = 9600", "{file}:2:1: unknown key 'bauds' (the keys are port,"},
        {"baud = \"fast\"", "{file}:1:8: baud takes a whole number"},
        {"muxes = [1, 7]", "{file}:1:9: muxes takes an array of multiplexer numbers 0..4"},
        {"port = ", "{file}:1:8: not a TOML file"},
        {"[mqtt]\nport = 1", "{file}:2:1: unknown key 'port' in [mqtt] (the keys are url,"},
        {"[ha]\ndiscovery = \"yes\"", "{file}:2:13: discovery takes true or false"},
        {"[modbus]\nwritable = 1", "{file}:2:12: writable takes true or false"},
        // Each value by its option's own rule, named where the file has it.
        {"muxes = [5]", "{file}:1:9: muxes takes an array of multiplexer numbers 0..4"},
        {"[line]\nparity = \"N\"", "{file}:2:10: parity takes none, odd, even, mark or space"},
        {"[line]\nstop_bits = \"2\"", "{file}:2:13: stop_bits takes 1"},
        {"stop_bits = 1.5", "{file}:1:13: stop_bits 1.5: serial ports here take 1 or 2"},
        {"timeout = \"soon\"", "{file}:1:11: timeout soon: give 10ms .. 600s"},
        {"poll_interval = 1234567", "{file}:1:17: poll_interval 1234567: give 0 (continuous)"},
        {"[poll]\nclock_every = \"-1s\"", "{file}:2:15: clock_every -1s: give a time such as"},
        {"[mqtt]\nurl = \"tcp://h:1883\"", "{file}:2:7: url tcp://h:1883: give mqtt://HOST"},
        {"[mqtt]\nkeepalive = 3", "{file}:2:13: keepalive 3: give 5..3600 seconds"},
        {"[mqtt]\nreconnect_min = \"1ms\"", "{file}:2:17: reconnect_min 1ms: give a time"},
        {"[mqtt]\nsite = \"a/b\"", "{file}:2:8: site a/b: a site name is one topic level"},
        {"[ha]\nprefix = \"home/#\"", "{file}:2:10: prefix home/#: give levels without +"},
        {"[modbus]\nlisten = \"h:1\"", "{file}:2:10: listen h:1: give ADDRESS[:PORT]"},
        {"[modbus]\nallow = \"\"", "{file}:2:9: allow takes IPv4 networks"},
        {"[modbus]\nidle = \"10ms\"", "{file}:2:8: idle 10ms: give a time"},
        {"port = \"{port}\"\n[line]\nport = \"{port}\"",
         "{file}:3:1: [line] port and port at the top (line 1) both give --port: keep one"},
        {std::nullopt, "cannot read the site file {file}: No such file or directory"},
    };
    for (const Row& row : rows) {
        const ToolRun run = RunWithSite(row.file, {"read", "--port", "{port}", "VER1"});
        EXPECT_EQ(run.exitCode, 1) << Expand(row.says);
        EXPECT_THAT(run.err, HasSubstr("roderavo: " + Expand(row.says)));
    }
    EXPECT_TRUE(sim.Received().empty());
}

// check-config judges the whole file, every table, as the commands do, and opens
// neither the port nor the broker nor the log.
TEST_F(ToolSiteFile, CheckConfigJudgesEveryTableWithoutTheLine) {
    const std::string good =
        "log = \"{file}.log\"\n[line]\nport = \"ttyUSB77\"\nstop_bits = 2\n[poll]\n"
        "muxes = [0, 4]\n[mqtt]\nurl = \"mqtts://broker.example\"\nkeepalive = 5\n[ha]\n"
        "discovery = true\n[modbus]\nlisten = \"127.0.0.1:1502\"\nallow = \"10.1.2.0/24\"\n";
    struct Row {
        std::string file;
        int exitCode;
        std::string says;
    };
    const std::vector<Row> rows = {
        {good, 0, "{file}: every key is good"},
        {good + "idle = 0.5", 1, "roderavo: {file}:15:8: idle 0.5: give a time"},
        {"[mqtt]\nkeepalive = 3601", 1, "roderavo: {file}:2:13: keepalive 3601: give 5..3600"},
    };
    for (const Row& row : rows) {
        std::filesystem::create_directories(dir_);
        std::ofstream(file_) << Expand(row.file);
        const ToolRun run = RunTool({"check-config", file_});
        EXPECT_EQ(run.exitCode, row.exitCode) << run.err;
        EXPECT_THAT(run.out + run.err, HasSubstr(Expand(row.says)));
    }
    EXPECT_FALSE(std::filesystem::exists(file_ + ".log"));
    EXPECT_TRUE(sim.Received().empty());
}

}  // namespace
