// The web face: the page, the JSON API (the state, its event stream, commands) and the
// metrics, served by HttpServer on a thread of its own. The poll's thread only hands it
// pictures, events and alarm reports; the face renders them on the server's thread.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <string>

#include "bridge/core/command_queue.h"
#include "bridge/core/face.h"
#include "bridge/http/http_options.h"
#include "bridge/http/http_server.h"
#include "bridge/http/state_json.h"

namespace roderavo::tool::bridge {

class HttpFace : public Face {
  public:
    static constexpr std::size_t kEventsKept = 50;
    // The streams get the state at most this often (what changed meanwhile goes out
    // together), and at least once a second, also while the poll waits on the line.
    static constexpr std::chrono::milliseconds kStreamTick{100};
    static constexpr std::chrono::milliseconds kHeartbeat{1000};

    HttpFace(HttpSettings settings, BridgeFacts facts, CommandQueue& commands);
    // Listens; false with the reason when it cannot.
    bool Start(std::string* error);

    void Show(const std::shared_ptr<const Picture>& picture, PollClock::time_point now) override;
    void Tell(const std::string& event) override;
    void Report(int camera, CameraShown state, const std::string& report) override;
    void Stop() override { server_.Stop(); }
    int Connections() const { return server_.Connections(); }

  private:
    // On the server's thread.
    void Handle(const HttpRequest& request, HttpServer::Responder respond);
    void Command(const HttpRequest& request, HttpServer::Responder respond);
    std::string Refusal(const HttpRequest& request) const;
    std::string StateText() const;
    std::string StateMessage() const { return "event: state\ndata: " + StateText() + "\n\n"; }
    void Changed() { changed_ = true; }  // the streams get the new state at the next tick
    void Tick();  // the state to the streams: when it changed, or a heartbeat

    HttpSettings settings_;
    BridgeFacts facts_;
    CommandQueue& commands_;
    HttpServer server_;
    // The server's thread only.
    std::shared_ptr<const Picture> picture_ = std::make_shared<const Picture>();
    std::map<int, AlarmReportSeen> reports_;
    std::deque<TimedEvent> events_;  // newest first
    std::string lastSent_;
    bool changed_ = false;
    PollClock::time_point sentAt_{};
};

}  // namespace roderavo::tool::bridge
