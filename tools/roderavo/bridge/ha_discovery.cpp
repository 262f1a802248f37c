#include "bridge/ha_discovery.h"

#include <array>

#include "address/camera_range.h"
#include "output/json_out.h"

namespace roderavo::tool::bridge {

namespace {

// An availability entry: the topic and its two payloads.
Json Available(const std::string& topic) {
    return {
        {"topic", topic}, {"payload_available", "online"}, {"payload_not_available", "offline"}};
}

// The templates of a camera's two sensors. Home Assistant takes "ON" and "OFF" as the
// sensor's state and "None" as unknown: a camera whose state is not known (its
// multiplexer does not answer) or not understood is never shown as safe.
struct Sensor {
    const char* what;
    const char* name;
    const char* deviceClass;
    const char* plain;
    const char* fromJson;
};

constexpr std::array<Sensor, 2> kSensors = {
    Sensor{"alarm", "alarm", "safety",
           "{% if value == 'alarm' %}ON{% elif value in ['fine', 'video-loss'] %}OFF"
           "{% else %}None{% endif %}",
           "{% if value_json.state == 'alarm' %}ON"
           "{% elif value_json.state in ['fine', 'video-loss'] %}OFF{% else %}None{% endif %}"},
    Sensor{"video_loss", "video loss", "problem",
           "{% if value == 'video-loss' %}ON{% elif value in ['fine', 'alarm'] %}OFF"
           "{% else %}None{% endif %}",
           "{% if value_json.state in ['fine', 'alarm', 'video-loss'] %}"
           "{{ 'ON' if value_json.videoLoss else 'OFF' }}{% else %}None{% endif %}"}};

// The buttons of a multiplexer: a press publishes a command of the bridge (the
// payload is the value the command takes).
struct Button {
    const char* what;
    const char* name;
    const char* command;
    const char* icon;
};

constexpr std::array<Button, 2> kButtons = {
    Button{"clear_alarms", "clear alarms", "caa", "mdi:alarm-off"},
    Button{"set_clock", "set clock to now", "clock", "mdi:clock-check-outline"}};

}  // namespace

std::vector<DiscoveryMessage> DiscoveryMessages(const Topics& topics, const std::string& haPrefix,
                                                const std::string& site,
                                                const std::vector<int>& muxes, bool json) {
    const std::string node = NodeName(topics.Prefix());
    // A configuration: its own fields, the availability and the device.
    auto config = [](Json fields, Json availability, const Json& device) {
        fields["availability"] = std::move(availability);
        fields["availability_mode"] = "all";
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
        // The multiplexer's state is known while the bridge runs, also when it is absent.
        messages.push_back({haPrefix + "/sensor/" + node + "/mux" + mux + "_state/config",
                            config(state, Json::array({Available(topics.Status())}), device)});
        // Its cameras and buttons only while the bridge runs and the multiplexer answers.
        const Json whileItAnswers =
            Json::array({Available(topics.Status()), Available(topics.Mux(m, "availability"))});
        // Its buttons, while it answers: clear its alarms (CAA with its number), set its
        // clock to the host's time (TAD now).
        for (const Button& button : kButtons) {
            const std::string id = node + "_mux" + mux + "_" + button.what;
            const std::string press = std::string(button.command) == "caa" ? mux : "now";
            const Json fields{
                {"name", "Multiplexer " + mux + " " + button.name},
                {"unique_id", id},
                {"object_id", id},
                {"command_topic", topics.Mux(m, std::string("set/") + button.command)},
                {"payload_press", press},
                {"icon", button.icon}};
            messages.push_back(
                {haPrefix + "/button/" + node + "/mux" + mux + "_" + button.what + "/config",
                 config(fields, whileItAnswers, device)});
        }
        for (int camera = FirstCamera(m); camera <= LastCamera(m); ++camera) {
            const std::string n = std::to_string(camera);
            for (const Sensor& sensor : kSensors) {
                const std::string id = node + "_camera" + n + "_" + sensor.what;
                const Json fields{{"name", "Camera " + n + " " + sensor.name},
                                  {"unique_id", id},
                                  {"object_id", id},
                                  {"state_topic", topics.Camera(camera, "state")},
                                  {"value_template", json ? sensor.fromJson : sensor.plain},
                                  {"device_class", sensor.deviceClass}};
                messages.push_back({haPrefix + "/binary_sensor/" + node + "/camera" + n + "_" +
                                        sensor.what + "/config",
                                    config(fields, whileItAnswers, device)});
            }
        }
    }
    return messages;
}

}  // namespace roderavo::tool::bridge
