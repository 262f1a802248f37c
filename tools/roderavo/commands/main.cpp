// roderavo: runs the Amux multiplexer driver as a SCADA host does. It loads
// libroderavo.so, calls only KorMain, and reads, writes and polls gates on a serial
// line or on the built-in simulator.
#include <cli_style.h>
#include <CLI/CLI.hpp>

#include <functional>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#ifndef _WIN32
#include "bridge/bridge.h"
#endif
#include "commands/commands.h"
#include "commands/site_config.h"
#include "output/json_out.h"
#include "roderavo/product.h"
#include "system/platform.h"

using namespace roderavo::tool;

namespace {

void AddDriverOptions(CLI::App* sub, CommonOptions& common) {
    sub->add_option("--driver", common.driverPath,
                    std::string("The driver library to load (default: ") +
                        kDriverFolderFromProgram + "/" + kDriverFileName +
                        " next to this program, else the build tree's)");
    sub->add_option("--instance", common.instance,
                    "Driver instance number (host client VERODI No_NN)")
        ->check(roderavo::cli::WholeNumber(0, 255));
    sub->add_flag("-v,--verbose", common.verbose, "Show the driver's trace lines too");
    sub->add_flag("--json", common.json, "One JSON object per result line, for scripts");
    sub->add_option("--log", common.logFile, "Also append every driver log line to this file");
}

void AddLineOptions(CLI::App* sub, CommonOptions& common) {
    sub->add_option("--config", common.siteFile,
                    std::string("A site file (TOML) with any of: ") + SiteKeys() +
                        "; the options given here win over it");
    auto* port = sub->add_option("--port", common.port, std::string("Serial port: ") + kPortHelp);
    port->check(CLI::Validator(
        [](const std::string& name) {
            return name.empty() ? std::string("give a port name, e.g. ttyUSB0") : std::string();
        },
        "NAME"));
    // Not shown where there are no pseudo-terminals (it says so when given).
    sub->add_flag("--simulate", common.simulate,
                  "Run against the built-in multiplexer simulator on a new pty")
        ->excludes(port)
        ->group(kHasPseudoTerminals ? "Options" : "");
    sub->add_option("--baud", common.baud, "Bits per second")->capture_default_str();
    sub->add_option("--data-bits", common.dataBits, "5..8")->capture_default_str();
    sub->add_option("--parity", common.parity, "none, odd, even, mark, space")
        ->capture_default_str();
    sub->add_option("--stop-bits", common.stopBits, kStopBitsHelp)->capture_default_str();
    sub->add_option("--poll-interval", common.pollInterval,
                    "How often poll reads the multiplexers (e.g. 500ms, 2s; plain numbers are "
                    "milliseconds); also the read time-out unless --timeout is given")
        ->capture_default_str();
    sub->add_option("--timeout", common.timeout,
                    "How long the driver waits for each reply (e.g. 300ms). The driver repeats a "
                    "failed exchange up to " +
                        std::to_string(RODERAVO_ATTEMPTS) +
                        " times, so a silent multiplexer costs " +
                        std::to_string(RODERAVO_ATTEMPTS) + " time-outs");
    // What needs a pseudo-terminal is not shown where there are none (it says so when
    // given).
    const std::string posixOnly = kHasPseudoTerminals ? "Options" : "";
    sub->add_flag("--trace", common.trace,
                  "Show every frame on the line, both ways, decoded and time-stamped (the tool "
                  "holds the port and relays it to the driver)")
        ->group(posixOnly);
    sub->add_option("--sim-fault", common.simFaults,
                    "With the simulator: KIND[:N][@P], a fault that strikes each answer with "
                    "probability P (e.g. no-answer@0.1, delay:300@0.5)")
        ->group(posixOnly);
    sub->add_option("--sim-absent", common.simAbsent,
                    "With the simulator: multiplexers that do not answer, e.g. 3,4")
        ->delimiter(',')
        ->check(roderavo::cli::WholeNumber(0, 4))
        ->group(posixOnly);
}

// What the command line fills in, for every sub-command.
struct Invocation {
    CommonOptions common;
    ParseOptions parse;
    std::vector<std::string> readAddresses;
    std::vector<std::string> writeAssignments;
    PollOptions poll;
    SimulateOptions simulate;
#ifndef _WIN32
    bridge::BridgeOptions bridge;
    SitesOptions sites;
#endif
};

// A sub-command and what runs when it was given.
struct Command {
    CLI::App* app;
    std::function<int()> run;
};

std::vector<Command> AddGateCommands(CLI::App& app, Invocation& in) {
    auto* info = app.add_subcommand("info", "Show the driver's description (GetInfo)");
    AddDriverOptions(info, in.common);

    auto* parse = app.add_subcommand("parse", "Check gate addresses offline (SingleParse)");
    AddDriverOptions(parse, in.common);
    parse->add_option("ADDRESS", in.parse.addresses, "Gate addresses, e.g. ALS121 KEY1 IHK2075")
        ->required();
    parse->add_option("--kind", in.parse.kind, "Value kind to parse with (default: the form's)")
        ->check(CLI::IsMember({"number", "text"}));

    auto* read = app.add_subcommand(
        "read", "Read gates (VER, TAD, ALS, AAS, VLS); TAS, SAC and SVC companions are shown too");
    AddDriverOptions(read, in.common);
    AddLineOptions(read, in.common);
    read->add_option("ADDRESS", in.readAddresses, "Gate addresses, e.g. AAS1 ALS121 VER1 TAD1")
        ->required();

    const auto quoted = [](std::string_view text) {
        return kShellQuote + std::string(text) + kShellQuote;
    };
    auto* write = app.add_subcommand("write", "Write gates: KEY1=53 " + quoted("PRESET2=(9,13)") +
                                                  " " + quoted("JOY3=(10,-20,30)") + " TAD0=now");
    AddDriverOptions(write, in.common);
    AddLineOptions(write, in.common);
    write->add_option("ASSIGNMENT", in.writeAssignments, "ADDRESS=VALUE ...")->required();

    auto* tagformat = app.add_subcommand(
        "tagformat",
        "Compose an address in the driver's Tag Format dialog on this terminal (function 16) "
        "and print it");
    AddDriverOptions(tagformat, in.common);

    return {{info, [&in] { return RunInfo(in.common); }},
            {tagformat, [&in] { return RunTagFormat(in.common); }},
            {parse, [&in] { return RunParse(in.common, in.parse); }},
            {read, [&in] { return RunRead(in.common, in.readAddresses); }},
            {write, [&in] { return RunWrite(in.common, in.writeAssignments); }}};
}

// What poll and the bridge read, and how they treat a multiplexer that fails.
void AddPollingOptions(CLI::App* cmd, PollOptions& poll) {
    cmd->add_option("--mux", poll.muxes, "Multiplexers to poll, e.g. 0,1,2 (default all)")
        ->delimiter(',')
        ->check(roderavo::cli::WholeNumber(0, 4));
    cmd->add_option("--duration", poll.duration,
                    "Stop after this time, e.g. 5 or 5s (default: until stopped)");
    cmd->add_option("--demote-after", poll.demoteAfter,
                    "Failed cycles in a row before a multiplexer is demoted")
        ->capture_default_str();
    cmd->add_option("--demote-for", poll.demoteFor,
                    "A demoted multiplexer is polled only this often (e.g. 10s)")
        ->capture_default_str();
    cmd->add_option("--clock-every", poll.clockEvery,
                    "How often the clocks (TAD) are read; the alarm and video-loss states are "
                    "read every cycle, the versions at the start, after a failure and hourly")
        ->capture_default_str();
}

Command AddPollCommand(CLI::App& app, Invocation& in) {
    PollOptions& poll = in.poll;
    auto* cmd = app.add_subcommand(
        "poll", "Poll every multiplexer (AAS, VLS, TAD, VER) and show a live view");
    AddDriverOptions(cmd, in.common);
    AddLineOptions(cmd, in.common);
    AddPollingOptions(cmd, poll);
    cmd->add_option("--cycles", poll.cycles,
                    "Stop after N cycles (0: until stopped; default: until Ctrl-C on a "
                    "terminal, 5 otherwise)")
        ->check(roderavo::cli::WholeNumber(0));
    cmd->add_option("--color", poll.colour, "auto, always or never")
        ->check(CLI::IsMember({"auto", "always", "never"}))
        ->capture_default_str();
    return {cmd, [&in] { return RunPoll(in.common, in.poll); }};
}

Command AddSimulateCommand(CLI::App& app, Invocation& in) {
    SimulateOptions& simulate = in.simulate;
    auto* cmd = app.add_subcommand("simulate",
                                   "Run the multiplexer simulator on a new pty and print its name");
    if (!kHasPseudoTerminals) cmd->group("");  // not shown; says POSIX-only when run
    cmd->add_flag("--json", in.common.json, "Print the port as a JSON object");
    cmd->add_flag("--trace", simulate.trace, "Show every frame, decoded, on stderr");
    cmd->add_option("--absent", simulate.absent, "Multiplexers that do not answer, e.g. 3,4")
        ->delimiter(',')
        ->check(roderavo::cli::WholeNumber(0, 4));
    cmd->add_option("--fault", simulate.faults,
                    "KIND[:N][@P]: a fault that strikes each answer with probability P "
                    "(default 1); KIND is no-answer, bad-checksum, wrong-source, "
                    "wrong-command, ack-status, split, delay, trickle (N ms) or garbage (N "
                    "bytes)");
    cmd->add_option("--seed", simulate.seed, "Seed of the random faults")->capture_default_str();
    cmd->add_option("--line-baud", simulate.baud,
                    "Pace replies like a line of this speed (0: at once)");
    cmd->add_option("--duration", simulate.duration, "Stop after this time (default: Ctrl-C)");
    return {cmd, [&in] { return RunSimulate(in.common, in.simulate); }};
}

// The site file of the sub-command that runs, under what its command line gave.
bool ApplySiteFile(const CLI::App& command, Invocation& in) {
    if (in.common.siteFile.empty()) return true;
    const auto given = [&command](std::string_view name) {
        const CLI::Option* option = command.get_option_no_throw(std::string(name));
        return option != nullptr && option->count() > 0;
    };
    std::string error;
    SiteOptions into{&in.common, &in.poll};
#ifndef _WIN32
    // sites reaches the broker by the bridge's [mqtt]; its --json is its own.
    const bool sites = command.get_name() == "sites";
    const bool json = in.common.json;
    if (command.get_name() == "bridge" || sites) into.bridge = &in.bridge;
    if (LoadSiteConfig(in.common.siteFile, given, into, &error)) {
        if (sites) in.common.json = json;
        return true;
    }
#else
    if (LoadSiteConfig(in.common.siteFile, given, into, &error)) return true;
#endif
    SetJsonErrors(in.common.json);
    Complain(error);
    return false;
}

// check-config FILE: the whole site file judged, every table, as the commands judge it,
// without the port or the broker.
Command AddCheckConfigCommand(CLI::App& app, Invocation& in) {
    auto* cmd = app.add_subcommand(
        "check-config",
        "Check a site file (TOML): every key of every table, as read, write, poll and bridge "
        "judge it, without opening the port or the broker");
    cmd->add_option("FILE", in.common.siteFile, "The site file")->required();
    return {cmd, [&in] {
                std::string error;
                SiteOptions into{&in.common, &in.poll};
#ifndef _WIN32
                into.bridge = &in.bridge;
#endif
                const OptionGiven none = [](std::string_view) { return false; };
                if (!LoadSiteConfig(in.common.siteFile, none, into, &error)) {
                    Complain(error);
                    return kExitRefused;
                }
                std::cout << in.common.siteFile << ": every key is good\n";
                return kExitOk;
            }};
}

#ifndef _WIN32  // the MQTT bridge: Linux only (libmosquitto)
Command AddBridgeCommand(CLI::App& app, Invocation& in) {
    auto* cmd = app.add_subcommand(
        "bridge",
        "Poll the multiplexers as poll does and publish them on an MQTT broker; take control "
        "commands from it (docs/guide.md, The MQTT bridge)");
    AddDriverOptions(cmd, in.common);
    AddLineOptions(cmd, in.common);
    AddPollingOptions(cmd, in.poll);
    bridge::AddBridgeOptions(cmd, in.bridge);
    cmd->get_option("--json")->description("JSON payloads (plain text by default)");
    // A service never falls back to the simulator by itself.
    cmd->get_option("--port")->description(
        "Serial port: ttyUSB0, ttyS1, pts/3, /dev/ttyUSB0 or a /dev/serial/by-id/... link; "
        "required unless --simulate is given");
    return {cmd, [&in] { return bridge::RunBridge(in.common, in.poll, in.bridge); }};
}

Command AddSitesCommand(CLI::App& app, Invocation& in) {
    auto* cmd = app.add_subcommand(
        "sites",
        "List the sites whose bridges report to the broker (a retained ROOT/SITE/status): "
        "online or offline, each multiplexer's state, the cameras in alarm, video loss or "
        "unknown, the age of the last statistics");
    cmd->add_option("--config", in.common.siteFile,
                    "A site file (TOML): its [mqtt] table reaches the broker as the bridge does; "
                    "the options given here win over it");
    bridge::AddMqttOptions(cmd, in.bridge.mqtt);
    // Those of one bridge's own topics; --site names the sites to show here.
    for (const char* name :
         {"--site", "--topic-prefix", "--ha-discovery", "--ha-prefix", "--statistics-every"})
        cmd->remove_option(cmd->get_option(name));
    cmd->get_option("--mqtt")->description(
        "The broker: mqtt://HOST[:PORT] (1883), mqtts://HOST[:PORT] (TLS, 8883) (default: "
        "mqtt://localhost:1883)");
    cmd->get_option("--mqtt-client-id")
        ->description("Client id at the broker (default: roderavo-sites- and this process's id)");
    SitesOptions& sites = in.sites;
    cmd->add_option("--site", sites.sites, "Only these sites, e.g. north,south (repeatable)")
        ->delimiter(',');
    cmd->add_option("--topic-root", sites.root,
                    "The level above the sites' names (default: the site file's topic_prefix "
                    "without its last level, else roderavo)");
    cmd->add_option("--timeout", sites.timeout,
                    "How long to wait for the broker and its retained messages (e.g. 5s)")
        ->capture_default_str();
    auto* json = cmd->add_flag("--json", in.common.json,
                               "A JSON array: site, status, muxes, cameras, statisticsAge");
    auto* watch = cmd->add_flag("--watch", sites.watch,
                                "A live view, updated as messages come (q or Esc quits)");
    cmd->add_flag("--check", sites.check,
                  "A monitoring check: one line with performance data; exit 0 OK, 1 WARNING (a "
                  "multiplexer not ok, a camera in video loss), 2 CRITICAL (a site offline or "
                  "missing), 3 UNKNOWN (no broker, a time-out)")
        ->excludes(json)
        ->excludes(watch);
    watch->excludes(json);
    return {cmd, [&in] { return RunSites(in.common, in.bridge.mqtt, in.sites); }};
}
#endif

// A monitoring system reads a wrong command line of `sites --check` as UNKNOWN (3), not
// as the WARNING its 1 would be.
constexpr int kCheckUnknown = 3;
bool MonitoringCheck(int argc, char** argv) {
    bool sites = false, check = false;
    for (int i = 1; i < argc; ++i) {
        sites = sites || std::string_view(argv[i]) == "sites";
        check = check || std::string_view(argv[i]) == "--check";
    }
    return sites && check;
}

}  // namespace

int main(int argc, char** argv) {
    PrepareConsole();
    CLI::App app{
        std::string("roderavo: runs the Amux 20CD multiplexer driver (") + kDriverFileName +
        ") the way a SCADA host does: reads, writes and polls gates on a serial line" +
        (kHasPseudoTerminals ? " or on the built-in simulator" : "") +
        ".\n"
        "Exit codes: 0 success, 1 an address or value refused or a wrong command line, 2 the "
        "line failed."};
    // A script that asked for JSON gets a wrong command line as a record on stdout too.
    bool json = false;
    for (int i = 1; i < argc; ++i) json = json || std::string_view(argv[i]) == "--json";
    roderavo::cli::UseStyle(app, "roderavo", [json](const std::string& message) {
        if (!json) return;
        Json record = TimedRecord();
        record["error"] = message;
        PrintJsonLine(record);
    });
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("roderavo ") + RODERAVO_VERSION);
    app.footer(std::string("See the guide, ") + kGuideLocation +
               ", for the gate addresses and value texts.");

    Invocation in;
    std::vector<Command> commands = AddGateCommands(app, in);
    commands.push_back(AddPollCommand(app, in));
    commands.push_back(AddSimulateCommand(app, in));
    commands.push_back(AddCheckConfigCommand(app, in));
#ifndef _WIN32
    commands.push_back(AddBridgeCommand(app, in));
    commands.push_back(AddSitesCommand(app, in));
#endif

    if (const int code = roderavo::cli::Parse(app, "roderavo", argc, argv); code >= 0)
        return code == kExitRefused && MonitoringCheck(argc, argv) ? kCheckUnknown : code;

    try {
        for (const Command& command : commands)
            if (command.app->parsed())
                return command.app->get_name() == "check-config" || ApplySiteFile(*command.app, in)
                           ? command.run()
                           : kExitRefused;
    } catch (const std::exception& e) {
        Complain(std::string("unexpected failure: ") + e.what());
        return kExitLine;
    }
    return kExitRefused;
}
