#include "bridge/mqtt/ha_discovery.h"

#include <array>
#include <numeric>
#include <set>

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

// The diagnostic sensors of a multiplexer: what it last answered of itself, and the
// statistics of its line (the loss in %, every figure an attribute).
struct Diagnostic {
    const char* what;  // its topic's leaf, its name
    const char* fromJson;
    const char* icon;
};

constexpr std::array<Diagnostic, 3> kDiagnostics = {
    Diagnostic{"version", "{{ value_json.version }}", "mdi:information-outline"},
    Diagnostic{"clock", "{{ value_json.clock }}", "mdi:clock-outline"},
    Diagnostic{"statistics", "{{ value_json.loss }}", "mdi:chart-line"}};

// What the configurations of one node share.
struct Node {
    const Topics& topics;
    std::string haPrefix, name, site;
    bool json;
    std::vector<DiscoveryMessage>* out;

    // A configuration: its own fields, the availability and the device.
    void Add(const std::string& component, const std::string& what, Json fields,
             const Json& availability, const Json& device) const {
        const std::string id = name + "_" + what;
        fields["unique_id"] = id;
        fields["object_id"] = id;
        if (!availability.empty()) {
            fields["availability"] = availability;
            fields["availability_mode"] = "all";
        }
        fields["device"] = device;
        out->push_back(
            {haPrefix + "/" + component + "/" + name + "/" + what + "/config", JsonText(fields)});
    }
};

// The bridge's own device, and its status as a diagnostic sensor (off when stopped or
// lost, never unavailable).
void AddBridge(const Node& node) {
    const Json device{{"identifiers", {node.name}},
                      {"name", node.site + " bridge"},
                      {"manufacturer", "roderavo"},
                      {"model", "roderavo bridge"},
                      {"sw_version", RODERAVO_VERSION}};
    node.Add("binary_sensor", "bridge_status",
             {{"name", "status"},
              {"state_topic", node.topics.Status()},
              {"payload_on", "online"},
              {"payload_off", "offline"},
              {"device_class", "connectivity"},
              {"entity_category", "diagnostic"}},
             Json::array(), device);
}

void AddCameras(const Node& node, int m, const Json& whileItAnswers, const Json& device) {
    for (int camera = FirstCamera(m); camera <= LastCamera(m); ++camera) {
        const std::string n = std::to_string(camera);
        for (const Sensor& sensor : kSensors)
            node.Add("binary_sensor", "camera" + n + "_" + sensor.what,
                     {{"name", "camera " + n + " " + sensor.name},
                      {"state_topic", node.topics.Camera(camera, "state")},
                      {"value_template", node.json ? sensor.fromJson : sensor.plain},
                      {"device_class", sensor.deviceClass}},
                     whileItAnswers, device);
    }
}

void AddMux(const Node& node, int m) {
    const std::string mux = std::to_string(m);
    const Json device{{"identifiers", {node.name + "_mux" + mux}},
                      {"name", node.site + " multiplexer " + mux},
                      {"manufacturer", "Vision Systems"},
                      {"model", "Amux 20CD"},
                      {"via_device", node.name}};
    // What the bridge says of the multiplexer is known while the bridge runs, also when
    // it is absent.
    const Json whileRunning = Json::array({Available(node.topics.Status())});
    Json state{{"name", "state"},
               {"state_topic", node.topics.Mux(m, "state")},
               {"device_class", "enum"},
               {"options", {"ok", "failing", "demoted", "absent"}},
               {"icon", "mdi:cctv"}};
    if (node.json) state["value_template"] = "{{ value_json.state }}";
    node.Add("sensor", "mux" + mux + "_state", state, whileRunning, device);
    for (const Diagnostic& diagnostic : kDiagnostics) {
        const std::string topic = node.topics.Mux(m, diagnostic.what);
        Json fields{{"name", diagnostic.what},
                    {"state_topic", topic},
                    {"entity_category", "diagnostic"},
                    {"icon", diagnostic.icon}};
        // The statistics are JSON always.
        const bool statistics = std::string(diagnostic.what) == "statistics";
        if (node.json || statistics) fields["value_template"] = diagnostic.fromJson;
        if (statistics) {
            fields["unit_of_measurement"] = "%";
            fields["json_attributes_topic"] = topic;
        }
        node.Add("sensor", "mux" + mux + "_" + diagnostic.what, fields, whileRunning, device);
    }
    // Its cameras and buttons only while the bridge runs and the multiplexer answers.
    const Json whileItAnswers = Json::array(
        {Available(node.topics.Status()), Available(node.topics.Mux(m, "availability"))});
    // Its buttons: clear its alarms (CAA with its number), set its clock to the host's
    // time (TAD now).
    for (const Button& button : kButtons)
        node.Add("button", "mux" + mux + "_" + button.what,
                 {{"name", button.name},
                  {"command_topic", node.topics.Mux(m, std::string("set/") + button.command)},
                  {"payload_press", std::string(button.command) == "caa" ? mux : "now"},
                  {"icon", button.icon}},
                 whileItAnswers, device);
    AddCameras(node, m, whileItAnswers, device);
}

}  // namespace

std::vector<DiscoveryMessage> DiscoveryMessages(const Topics& topics, const std::string& haPrefix,
                                                const std::string& site,
                                                const std::vector<int>& muxes, bool json) {
    std::vector<DiscoveryMessage> messages;
    const Node node{topics, haPrefix, NodeName(topics.Prefix()), site, json, &messages};
    AddBridge(node);
    for (int m : muxes) AddMux(node, m);
    return messages;
}

std::vector<DiscoveryMessage> DiscoveryAtConnection(const Topics& topics,
                                                    const std::string& haPrefix,
                                                    const std::string& site,
                                                    const std::vector<int>& muxes, bool json,
                                                    bool enabled) {
    std::vector<DiscoveryMessage> messages;
    if (enabled) messages = DiscoveryMessages(topics, haPrefix, site, muxes, json);
    std::set<std::string> published;
    for (const auto& message : messages) published.insert(message.topic);
    std::vector<int> every(static_cast<std::size_t>(kMuxCount));
    std::iota(every.begin(), every.end(), 0);
    for (const auto& message : DiscoveryMessages(topics, haPrefix, site, every, json))
        if (published.count(message.topic) == 0) messages.push_back({message.topic, ""});
    return messages;
}

}  // namespace roderavo::tool::bridge
