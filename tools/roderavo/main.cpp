// roderavo: runs the Amux multiplexer driver as a SCADA host does. It loads
// libroderavo.so, calls only KorMain, and reads, writes and polls gates on a serial
// line or on the built-in simulator.
#include <CLI/CLI.hpp>

#include <iostream>

#include "commands.h"

using namespace roderavo::tool;

namespace {

void AddDriverOptions(CLI::App* sub, CommonOptions& common) {
    sub->add_option("--driver", common.driverPath,
                    "The driver library to load (default: ../lib/libroderavo.so next to this "
                    "program, else the build tree's)");
    sub->add_option("--instance", common.instance,
                    "Driver instance number (host client VERODI No_NN)")
        ->check(CLI::Range(0, 255));
    sub->add_flag("-v,--verbose", common.verbose, "Show the driver's trace lines too");
    sub->add_flag("--json", common.json, "One JSON object per result line, for scripts");
    sub->add_option("--log", common.logFile, "Also append every driver log line to this file");
}

void AddLineOptions(CLI::App* sub, CommonOptions& common) {
    sub->add_option("--port", common.port,
                    "Serial port: ttyUSB0, ttyS1, pts/3, /dev/ttyUSB0 or a /dev/serial/by-id/... "
                    "link (without --port the built-in simulator is used)");
    sub->add_flag("--simulate", common.simulate,
                  "Run against the built-in multiplexer simulator on a new pty");
    sub->add_option("--baud", common.baud, "Bits per second")->capture_default_str();
    sub->add_option("--data-bits", common.dataBits, "5..8")->capture_default_str();
    sub->add_option("--parity", common.parity, "none, odd, even, mark, space")
        ->capture_default_str();
    sub->add_option("--stop-bits", common.stopBits, "1, 1.5 or 2")->capture_default_str();
    sub->add_option("--poll-interval", common.pollInterval,
                    "Poll interval, also the time the driver waits for each reply "
                    "(e.g. 500ms, 2s; plain numbers are milliseconds)")
        ->capture_default_str();
    sub->add_option("--sim-fault", common.simFaults,
                    "With the simulator: KIND[:N][@P], a fault that strikes each answer with "
                    "probability P (e.g. no-answer@0.1, delay:300@0.5)");
    sub->add_option("--sim-absent", common.simAbsent,
                    "With the simulator: multiplexers that do not answer, e.g. 3,4")
        ->delimiter(',')
        ->check(CLI::Range(0, 4));
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "roderavo: runs the Amux 20CD multiplexer driver (libroderavo.so) the way a SCADA host "
        "does: reads, writes and polls gates on a serial line or on the built-in simulator.\n"
        "Exit codes: 0 success, 1 an address or value refused, 2 the line failed."};
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("roderavo ") + RODERAVO_VERSION);
    app.footer("See docs/guide.md for the gate addresses and value texts.");

    CommonOptions common;

    auto* info = app.add_subcommand("info", "Show the driver's description (GetInfo)");
    AddDriverOptions(info, common);

    ParseOptions parse;
    auto* parseCmd = app.add_subcommand("parse", "Check gate addresses offline (SingleParse)");
    AddDriverOptions(parseCmd, common);
    parseCmd->add_option("ADDRESS", parse.addresses, "Gate addresses, e.g. ALS121 KEY1 IHK2075")
        ->required();
    parseCmd->add_option("--kind", parse.kind, "Value kind to parse with (default: the form's)")
        ->check(CLI::IsMember({"number", "text"}));

    std::vector<std::string> readAddresses;
    auto* read = app.add_subcommand(
        "read", "Read gates (VER, TAD, ALS, AAS, VLS); TAS, SAC and SVC companions are shown too");
    AddDriverOptions(read, common);
    AddLineOptions(read, common);
    read->add_option("ADDRESS", readAddresses, "Gate addresses, e.g. AAS1 ALS121 VER1 TAD1")
        ->required();

    std::vector<std::string> writeAssignments;
    auto* write = app.add_subcommand(
        "write", "Write gates: KEY1=53 'PRESET2=(9,13)' 'JOY3=(10,-20,30)' TAD0=now");
    AddDriverOptions(write, common);
    AddLineOptions(write, common);
    write->add_option("ASSIGNMENT", writeAssignments, "ADDRESS=VALUE ...")->required();

    PollOptions poll;
    auto* pollCmd = app.add_subcommand(
        "poll", "Poll every multiplexer (VER, TAD, AAS, VLS) and show a live view");
    AddDriverOptions(pollCmd, common);
    AddLineOptions(pollCmd, common);
    pollCmd->add_option("--mux", poll.muxes, "Multiplexers to poll, e.g. 0,1,2 (default all)")
        ->delimiter(',')
        ->check(CLI::Range(0, 4));
    pollCmd
        ->add_option("--cycles", poll.cycles,
                     "Stop after N cycles (0: until stopped; default: until Ctrl-C on a "
                     "terminal, 5 otherwise)")
        ->check(CLI::NonNegativeNumber);
    pollCmd->add_option("--duration", poll.duration, "Stop after this time, e.g. 5 or 5s");
    pollCmd
        ->add_option("--demote-after", poll.demoteAfter,
                     "Failed cycles in a row before a multiplexer is demoted")
        ->capture_default_str();
    pollCmd
        ->add_option("--demote-for", poll.demoteFor,
                     "A demoted multiplexer is polled only this often (e.g. 10s)")
        ->capture_default_str();
    pollCmd->add_option("--color", poll.colour, "auto, always or never")
        ->check(CLI::IsMember({"auto", "always", "never"}))
        ->capture_default_str();

    SimulateOptions simulate;
    auto* simCmd = app.add_subcommand(
        "simulate", "Run the multiplexer simulator on a new pty and print its name");
    simCmd->add_flag("--json", common.json, "Print the port as a JSON object");
    simCmd->add_flag("--trace", simulate.trace, "Show every frame, decoded, on stderr");
    simCmd->add_option("--absent", simulate.absent, "Multiplexers that do not answer, e.g. 3,4")
        ->delimiter(',')
        ->check(CLI::Range(0, 4));
    simCmd->add_option("--fault", simulate.faults,
                       "KIND[:N][@P]: a fault that strikes each answer with probability P "
                       "(default 1); KIND is no-answer, bad-checksum, wrong-source, "
                       "wrong-command, ack-status, split, delay, trickle (N ms) or garbage (N "
                       "bytes)");
    simCmd->add_option("--seed", simulate.seed, "Seed of the random faults")->capture_default_str();
    simCmd->add_option("--line-baud", simulate.baud,
                       "Pace replies like a line of this speed (0: at once)");
    simCmd->add_option("--duration", simulate.duration, "Stop after this time (default: Ctrl-C)");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? kExitOk : kExitRefused;
    }

    try {
        if (info->parsed()) return RunInfo(common);
        if (parseCmd->parsed()) return RunParse(common, parse);
        if (read->parsed()) return RunRead(common, readAddresses);
        if (write->parsed()) return RunWrite(common, writeAssignments);
        if (pollCmd->parsed()) return RunPoll(common, poll);
        if (simCmd->parsed()) return RunSimulate(common, simulate);
    } catch (const std::exception& e) {
        Complain(std::string("unexpected failure: ") + e.what());
        return kExitLine;
    }
    return kExitRefused;
}
