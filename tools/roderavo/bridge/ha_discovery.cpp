#include "ha_discovery.h"

#include "text.h"

namespace roderavo::tool::bridge {

namespace {

std::string Field(const std::string& name, const std::string& value) {
    return JsonString(name) + ":" + JsonString(value);
}

}  // namespace

std::vector<DiscoveryMessage> DiscoveryMessages(const Topics& topics, const std::string& haPrefix,
                                                const std::string& site,
                                                const std::vector<int>& muxes, bool json) {
    const std::string node = NodeName(topics.Prefix());
    const std::string availability = Field("availability_topic", topics.Status()) + "," +
                                     Field("payload_available", "online") + "," +
                                     Field("payload_not_available", "offline");
    std::vector<DiscoveryMessage> messages;
    for (int m : muxes) {
        const std::string mux = std::to_string(m);
        const std::string device =
            "\"device\":{\"identifiers\":[" + JsonString(node + "_mux" + mux) + "]," +
            Field("name", site + " multiplexer " + mux) + "," +
            Field("manufacturer", "Vision Systems") + "," + Field("model", "Amux 20CD") + "}";
        const std::string stateId = node + "_mux" + mux + "_state";
        messages.push_back(
            {haPrefix + "/sensor/" + node + "/mux" + mux + "_state/config",
             "{" + Field("name", "Multiplexer " + mux + " state") + "," +
                 Field("unique_id", stateId) + "," + Field("object_id", stateId) + "," +
                 Field("state_topic", topics.Mux(m, "state")) + "," +
                 (json ? Field("value_template", "{{ value_json.state }}") + "," : "") +
                 Field("icon", "mdi:cctv") + "," + availability + "," + device + "}"});
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
                messages.push_back(
                    {haPrefix + "/binary_sensor/" + node + "/camera" + n + "_" + sensor.what +
                         "/config",
                     "{" + Field("name", "Camera " + n + " " + sensor.name) + "," +
                         Field("unique_id", id) + "," + Field("object_id", id) + "," +
                         Field("state_topic", topics.Camera(camera, "state")) + "," +
                         Field("value_template", json ? sensor.fromJson : sensor.plain) + "," +
                         Field("device_class", sensor.deviceClass) + "," + availability + "," +
                         device + "}"});
            }
        }
    }
    return messages;
}

}  // namespace roderavo::tool::bridge
