#include "bridge/mqtt/mqtt_face.h"

#include "bridge/core/bridge_log.h"
#include "bridge/core/command_runner.h"
#include "bridge/mqtt/ha_discovery.h"
#include "line/session.h"
#include "output/json_out.h"

namespace roderavo::tool::bridge {

std::string ResultPayload(const CommandResult& result, bool json) {
    if (!json) {
        std::string text = std::to_string(result.result) + " " + result.explanation;
        if (result.duplicate) text += " (id " + result.id + " was run before: not run again)";
        return text;
    }
    return ResultRecord(result);
}

MqttFace::MqttFace(MqttSettings settings, std::vector<int> muxes, CommandQueue& commands)
    : settings_(std::move(settings)),
      muxes_(std::move(muxes)),
      commands_(commands),
      topics_(settings_.prefix),
      client_(settings_.broker),
      publisher_(
          topics_, settings_.json,
          [this](const std::string& topic, const std::string& payload, bool retain) {
              return Publish(topic, payload, retain);
          },
          [this] { return client_.Connections(); }),
      retained_([this](const std::string& topic, const std::string& payload, bool retain) {
          return Publish(topic, payload, retain);
      }) {}

bool MqttFace::Connect() {
    std::string error;
    const bool started = client_.Start([this](const std::string& topic, const std::string& payload,
                                              bool retained) { Admit(topic, payload, retained); },
                                       [this] { OnConnected(); },
                                       [](const std::string& text) { Say(text); }, &error);
    if (!started) Complain(error);
    return started;
}

// On the client's thread, as each command arrives: queued, or answered at once when it
// is too long to keep or the queue is full.
void MqttFace::Admit(const std::string& topic, const std::string& payload, bool retained) {
    const auto parsed = topics_.ParseCommand(topic);
    if (!parsed || !retained_.IsCommand(topic, payload, retained)) return;
    Command command;
    command.mux = parsed->mux;
    command.word = parsed->word;
    command.payload = payload;
    command.retained = retained;
    command.answer = [this, topic = topics_.MuxResult(parsed->mux)](const CommandResult& result) {
        publisher_.Result(topic, ResultPayload(result, settings_.json));
    };
    Submit(commands_, std::move(command), publisher_.UnsentResults());
}

void MqttFace::OnConnected() {
    Say("connected to the broker " + settings_.url + " (connection " +
        std::to_string(client_.Connections()) + "); topics under " + topics_.Prefix() + "/");
    retained_.Reset();
    client_.Subscribe(topics_.CommandFilter());
    client_.Publish(topics_.Status(), "online", true);
    for (const auto& message : DiscoveryAtConnection(topics_, settings_.haPrefix, settings_.site,
                                                     muxes_, settings_.json, settings_.haDiscovery))
        client_.Publish(message.topic, message.payload, true);
    publisher_.Republish();
}

void MqttFace::Show(const std::shared_ptr<const Picture>& picture, PollClock::time_point now) {
    publisher_.Publish(*picture, now);
}

void MqttFace::Report(int camera, CameraShown state, const std::string& report) {
    publisher_.AlarmReport(camera, std::string(Word(state)), report);
}

void MqttFace::Final(const Picture& picture) {
    if (client_.Fatal()) return;
    publisher_.Statistics(picture);
    client_.Publish(topics_.Status(), "offline", true);
}

void MqttFace::Stop() {
    if (stopped_) return;
    stopped_ = true;
    client_.Stop();
}

}  // namespace roderavo::tool::bridge
