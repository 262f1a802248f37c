// The Modbus TCP face's options (where it listens, who may connect, the idle time,
// whether writes are taken, the tag list) in one table for the command line and the
// site file's [modbus], and the settings they are judged into before anything starts.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "bridge/core/face_options.h"
#include "bridge/core/networks.h"

namespace roderavo::tool::bridge {

// As given: texts, as the command line and the site file have them.
struct ModbusOptions {
    std::string listen;        // ADDRESS[:PORT]; empty: no Modbus face
    std::string idle = "60s";  // a connection that says nothing this long is closed
    std::string allow;         // the networks that may connect; empty: every peer
    bool writable = false;     // holding registers run commands; else reads only
    std::string map;           // "csv": print the map as a tag list and end
};

using ModbusEndpoint = Endpoint;
using ModbusPeers = PeerNetwork;

// "10.0.0.0/8,192.168.1.7" (a plain address is /32); nothing, with the reason, when
// one is not an IPv4 network.
std::optional<std::vector<ModbusPeers>> ParseModbusPeers(const std::string& text,
                                                         std::string* error);

// ADDRESS[:PORT] ("127.0.0.1", "0.0.0.0:1502", port 502 when none is given); nothing,
// with the reason, when it is not one.
std::optional<ModbusEndpoint> ParseModbusEndpoint(const std::string& text, std::string* error);

std::span<const FaceOption<ModbusOptions>> ModbusOptionTable();
void AddModbusOptions(CLI::App* command, ModbusOptions& options);

// What the face runs with, judged.
struct ModbusSettings {
    std::optional<ModbusEndpoint> endpoint;  // none: no face
    std::chrono::milliseconds idle{60000};
    std::vector<ModbusPeers> peers;  // none: every peer
    bool writable = false;
};

// Nothing, with the reason said, when a value is wrong.
std::optional<ModbusSettings> JudgeModbus(const ModbusOptions& options);

}  // namespace roderavo::tool::bridge
