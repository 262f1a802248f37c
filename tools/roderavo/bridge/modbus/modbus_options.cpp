#include "bridge/modbus/modbus_options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <charconv>

#include "line/session.h"

namespace roderavo::tool::bridge {

namespace {

using O = ModbusOptions;

constexpr FaceOption<O> kTable[] = {
    {.option = "--modbus",
     .help = "Serve the multiplexers on Modbus TCP at ADDRESS[:PORT] (port 502 by default; "
             "127.0.0.1 serves this host only, 0.0.0.0 every host), beside MQTT or alone: reads "
             "of what the poll last read, writes with --modbus-writable (docs/guide.md, The "
             "Modbus TCP face)",
     .table = "modbus",
     .key = "listen",
     .takes = "a text, ADDRESS[:PORT], e.g. \"127.0.0.1:502\"",
     .text = &O::listen,
     .rule = [](const O& o) { return ListenKeyProblem(o.listen, "--modbus", 502); }},
    {.option = "--modbus-writable",
     .help = "Let Modbus clients write the holding registers: keys, PTZ, presets, clear alarms, "
             "set clocks (Modbus TCP has no authentication)",
     .table = "modbus",
     .key = "writable",
     .takes = "true or false",
     .kind = OptionKind::kFlag,
     .flag = &O::writable},
    {.option = "--modbus-allow",
     .help = "Only these peers may connect to the Modbus face: IPv4 networks, e.g. "
             "10.1.2.0/24,10.9.9.9 (default: every peer that reaches the address)",
     .table = "modbus",
     .key = "allow",
     .takes = "a text, IPv4 networks, e.g. \"10.1.2.0/24\"",
     .text = &O::allow,
     .rule = [](const O& o) { return AllowKeyProblem(o.allow, "--modbus-allow"); }},
    {.option = "--modbus-idle",
     .help = "A Modbus connection that sends nothing this long is closed",
     .table = "modbus",
     .key = "idle",
     .takes = kTakesTime,
     .kind = OptionKind::kTime,
     .text = &O::idle,
     .rule = [](const O& o) { return DurationProblem(o.idle, kModbusIdleLeastMs); }},
    {.option = "--modbus-map",
     .help = "Print the Modbus map as a tag list to import into a SCADA (csv: table, address, "
             "Modicon number, name, type, access, description) and end",
     .text = &O::map},
};

}  // namespace

std::optional<ModbusEndpoint> ParseModbusEndpoint(const std::string& text, std::string* error) {
    return ParseEndpoint(text, "--modbus", 502, "127.0.0.1:1502 or 0.0.0.0:502", error);
}

std::optional<std::vector<ModbusPeers>> ParseModbusPeers(const std::string& text,
                                                         std::string* error) {
    return ParseNetworks(text, "--modbus-allow", error);
}

std::span<const FaceOption<ModbusOptions>> ModbusOptionTable() {
    return kTable;
}

void AddModbusOptions(CLI::App* command, ModbusOptions& options) {
    AddFaceOptions(command, options, ModbusOptionTable());
    command->get_option("--modbus-allow")->check(CLI::Validator(EmptyNetworksProblem, "NETWORKS"));
    command->get_option("--modbus-map")->check(CLI::IsMember({"csv"}));
}

std::optional<ModbusSettings> JudgeModbus(const ModbusOptions& options) {
    ModbusSettings settings;
    std::string error;
    if (!options.listen.empty() &&
        !(settings.endpoint = ParseModbusEndpoint(options.listen, &error))) {
        Complain(error);
        return std::nullopt;
    }
    const auto idle = JudgeDuration("--modbus-idle", options.idle, kModbusIdleLeastMs);
    if (!idle) return std::nullopt;
    settings.idle = *idle;
    settings.writable = options.writable;
    if (options.allow.empty()) return settings;
    auto peers = ParseModbusPeers(options.allow, &error);
    if (!peers) {
        Complain(error);
        return std::nullopt;
    }
    settings.peers = std::move(*peers);
    return settings;
}

}  // namespace roderavo::tool::bridge
