#include "ha_discovery.h"

#include "json_out.h"

namespace roderavo::tool::bridge {

std::vector<DiscoveryMessage> DiscoveryMessages(const Topics& topics, const std::string& haPrefix,
                                                const std::string& site,
                                                const std::vector<int>& muxes, bool json) {
    const std::string node = NodeName(topics.Prefix());
    const Json availability{{"availability_topic", topics.Status()},
                            {"payload_available", "online"},
                            {"payload_not_available", "offline"}};
    // A configuration: its own fields, the availability and the device.
    auto config = [&availability](Json fields, const Json& device) {
        fields.update(availability);
        fields["device"] = device;
        return JsonText(fields);
    };
    std::vector<DiscoveryMessage> messages;
    for (int m : muxes) {
        const std::string mux = std::to_string(m);
        const Json device{{"identifiers", {node + "_mux" + mux}},
                          {"name", site + " multiplexer " + mux},
                          {"manufacturer", "Vision Systems"},
                          {"model", "Amux 20CD"}};
        const std::string stateId = node + "_mux" + mux + "_state";
        Json state{{"name", "Multiplexer " + mux + " state"},
                   {"unique_id", stateId},
                   {"object_id", stateId},
                   {"state_topic", topics.Mux(m, "state")}};
        if (json) state["value_template"] = "{{ value_json.state }}";
        state["icon"] = "mdi:cctv";
        messages.push_back(
            {haPrefix + "/sensor/" + node + "/mux" + mux + "_state/config", config(state, device)});
        for (int camera = m * 20 + 1; camera <= m * 20 + 20; ++camera) {
            const std::string n = std::to_string(camera);
            struct Sensor {
                const char* what;
                const char* name;
                const char* deviceClass;
                const char* plain;
                const char* fromJson;
            };
            for (const Sensor& sensor :
                 {Sensor{"alarm", "alarm", "safety", "{{ 'ON' if value == 'alarm' else 'OFF' }}",
                         "{{ 'ON' if value_json.alarm else 'OFF' }}"},
                  Sensor{"video_loss", "video loss", "problem",
                         "{{ 'ON' if value == 'video-loss' else 'OFF' }}",
                         "{{ 'ON' if value_json.videoLoss else 'OFF' }}"}}) {
                const std::string id = node + "_camera" + n + "_" + sensor.what;
                const Json fields{{"name", "Camera " + n + " " + sensor.name},
                                  {"unique_id", id},
                                  {"object_id", id},
                                  {"state_topic", topics.Camera(camera, "state")},
                                  {"value_template", json ? sensor.fromJson : sensor.plain},
                                  {"device_class", sensor.deviceClass}};
                messages.push_back({haPrefix + "/binary_sensor/" + node + "/camera" + n + "_" +
                                        sensor.what + "/config",
                                    config(fields, device)});
            }
        }
    }
    return messages;
}

}  // namespace roderavo::tool::bridge
