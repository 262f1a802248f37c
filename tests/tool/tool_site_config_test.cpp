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
        {site + "baud = 70000", 1, "--baud 70000", {"--baud", "9600"}},
        {site + "data_bits = 9", 1, "--data-bits takes 5..8", {"--data-bits", "8"}},
        {site + "parity = \"seven\"", 1, "--parity takes", {"--parity", "even"}},
        {site + "stop_bits = 3", 1, "--stop-bits takes", {"--stop-bits", "2"}},
        {site + "timeout = 5", 1, "--timeout 5:", {"--timeout", "200ms"}},
        {site + "poll_interval = \"1ms\"", 1, "--poll-interval 1ms", {"--poll-interval", "2s"}},
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
        EXPECT_THAT(alone.out + alone.err, HasSubstr(row.saysAlone)) << row.file;
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
        {std::nullopt, "cannot read the site file {file}: No such file or directory"},
    };
    for (const Row& row : rows) {
        const ToolRun run = RunWithSite(row.file, {"read", "--port", "{port}", "VER1"});
        EXPECT_EQ(run.exitCode, 1) << Expand(row.says);
        EXPECT_THAT(run.err, HasSubstr("roderavo: " + Expand(row.says)));
    }
    EXPECT_TRUE(sim.Received().empty());
}

}  // namespace
