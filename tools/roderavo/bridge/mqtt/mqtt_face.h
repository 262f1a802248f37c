// The MQTT face: the picture as retained states under the topic prefix, events, alarm
// reports and statistics, Home Assistant's discovery at each connection, and the
// commands of …/mux/<m>/set/<word> handed to the core's queue and answered on
// …/mux/<m>/result from their result records. The connection lives on the MQTT
// client's thread; Show and the others only hand messages to libmosquitto.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bridge/core/command_queue.h"
#include "bridge/core/face.h"
#include "bridge/mqtt/mqtt_client.h"
#include "bridge/mqtt/mqtt_options.h"
#include "bridge/mqtt/retained_commands.h"
#include "bridge/mqtt/state_publisher.h"

namespace roderavo::tool::bridge {

// A command's result as …/result carries it: "0 KEY1=53 done", or the JSON record.
std::string ResultPayload(const CommandResult& result, bool json);

class MqttFace : public Face {
  public:
    // `muxes`: the multiplexers polled (Home Assistant's devices).
    MqttFace(MqttSettings settings, std::vector<int> muxes, CommandQueue& commands);

    // Connects in the background; false (said) when the client cannot start.
    bool Connect();
    // Set when the broker refused the credentials or TLS failed: the bridge ends.
    std::optional<std::string> Fatal() const { return client_.Fatal(); }

    void Show(const std::shared_ptr<const Picture>& picture, PollClock::time_point now) override;
    void Tell(const std::string& event) override { publisher_.Event(event); }
    void Report(int camera, CameraShown state, const std::string& report) override;
    void Statistics(const Picture& picture) override { publisher_.Statistics(picture); }
    // The connection ends, after what was published (within half a second).
    void Stop() override;
    // Before Stop: the last statistics, from the final picture, and the offline status
    // (unless the broker refused the bridge).
    void Final(const Picture& picture);

  private:
    void OnConnected();  // on the client's thread
    void Admit(const std::string& topic, const std::string& payload, bool retained);
    bool Publish(const std::string& topic, const std::string& payload, bool retain) {
        return client_.Publish(topic, payload, retain);
    }

    MqttSettings settings_;
    std::vector<int> muxes_;
    CommandQueue& commands_;
    Topics topics_;
    MqttClient client_;
    StatePublisher publisher_;
    RetainedCommands retained_;  // on the MQTT client's thread
    bool stopped_ = false;
};

}  // namespace roderavo::tool::bridge
