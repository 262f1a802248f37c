#include "bridge/bridge_options.h"

namespace roderavo::tool::bridge {

void AddBridgeOptions(CLI::App* command, BridgeOptions& options) {
    AddMqttOptions(command, options.mqtt);
    AddCoreOptions(command, options.core);
    AddModbusOptions(command, options.modbus);
    AddHttpOptions(command, options.http);
}

std::optional<BridgeSettings> JudgeBridge(const CommonOptions& common, const PollOptions& polling,
                                          const BridgeOptions& given) {
    MqttOptions mqtt = given.mqtt;
    if (mqtt.url.empty() && given.modbus.listen.empty() && given.http.listen.empty())
        mqtt.url = kDefaultBroker;
    if (mqtt.url.empty() && mqtt.haDiscovery) {
        Complain("--ha-discovery publishes on MQTT: give --mqtt too");
        return std::nullopt;
    }
    // A service whose settings lost the port must not publish a simulator's cameras.
    if (common.port.empty() && !common.simulate) {
        Complain("bridge: give the line with --port NAME (e.g. ttyUSB0), or --simulate");
        return std::nullopt;
    }
    BridgeSettings settings;
    auto judgedMqtt = JudgeMqtt(mqtt, common.json);
    if (!judgedMqtt) return std::nullopt;
    settings.mqtt = std::move(*judgedMqtt);
    if (!polling.duration.empty() &&
        !(settings.duration = JudgeDuration("--duration", polling.duration, 0)))
        return std::nullopt;
    auto core = JudgeCore(given.core);
    if (!core) return std::nullopt;
    settings.core = *core;
    auto modbus = JudgeModbus(given.modbus);
    if (!modbus) return std::nullopt;
    settings.modbus = std::move(*modbus);
    auto http = JudgeHttp(given.http);
    if (!http) return std::nullopt;
    settings.http = std::move(*http);
    return settings;
}

}  // namespace roderavo::tool::bridge
