// The options of `roderavo bridge`: each face's and the core's, each from its own
// table (filled by the command line and by the site file), and the settings they are
// judged into, once, before the line is opened.
#pragma once

#include <chrono>
#include <optional>

#include "bridge/core/core_options.h"
#include "bridge/http/http_options.h"
#include "bridge/modbus/modbus_options.h"
#include "bridge/mqtt/mqtt_options.h"
#include "line/session.h"
#include "poll/poll_options.h"

namespace roderavo::tool::bridge {

struct BridgeOptions {
    MqttOptions mqtt;
    ModbusOptions modbus;
    HttpOptions http;
    CoreOptions core;
};

// The options of the bridge on its sub-command (the line and driver options are the
// tool's common ones, the polling ones poll's).
void AddBridgeOptions(CLI::App* command, BridgeOptions& options);

struct BridgeSettings {
    MqttSettings mqtt;
    ModbusSettings modbus;
    HttpSettings http;
    CoreSettings core;
    std::optional<std::chrono::milliseconds> duration;  // --duration; none: until a signal
};

// Every option judged, in the order a user meets them: the line named, the topics,
// the broker, the duration, the core's, the Modbus face's, the web face's. Nothing, with the reason
// said, when one is wrong. The broker is mqtt://localhost:1883 unless a face of
// another kind is asked for.
std::optional<BridgeSettings> JudgeBridge(const CommonOptions& common, const PollOptions& polling,
                                          const BridgeOptions& options);

}  // namespace roderavo::tool::bridge
