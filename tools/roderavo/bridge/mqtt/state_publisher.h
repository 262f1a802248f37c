// What the bridge publishes of the polled multiplexers: the state, version and clock
// of each multiplexer and the state of each camera, retained and published when they
// change; the alarm reports and poll events as they come. The retained states are
// kept, so that each new connection to the broker gets them all again, and events
// that came while the broker was away are published when it is back.
#pragma once
#define RODERAVO_TREE_STATE_PUBLISHER_H 1  // the tree's own copy, as the layer probes ask

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "address/camera_range.h"
#include "bridge/core/picture.h"
#include "bridge/mqtt/topics.h"
#include "poll/poller.h"

namespace roderavo::tool::bridge {

// A multiplexer's availability: online while it answers (ok), else offline.
std::string_view MuxAvailability(MuxShown state);

class StatePublisher {
  public:
    // Publishes one message (QoS 1); false when the broker is not there now.
    using Sender =
        std::function<bool(const std::string& topic, const std::string& payload, bool retain)>;

    // The number of the broker connection a message goes out on now (1, 2, ...).
    using Connection = std::function<uint64_t()>;

    StatePublisher(Topics topics, bool json, Sender send, Connection connection = {});

    // Every state the picture changed, as shown at `now`.
    void Publish(const Picture& picture, PollClock::time_point now);
    // The alarm report of a camera (an ALS read): on …/camera/<n>/alarm.
    void AlarmReport(int camera, const std::string& state, const std::string& report);
    // A poll event (demotion, recovery, staleness): on …/event.
    void Event(const std::string& text);
    // The result of a command: on …/mux/<m>/result. One that cannot be delivered now
    // is kept until it can, however many (the command queue admits no more commands
    // than it can answer: see UnsentResults).
    void Result(const std::string& topic, const std::string& payload);
    // The results kept because the broker was away.
    std::size_t UnsentResults() const;
    // The statistics of each multiplexer: on …/mux/<m>/statistics, retained.
    void Statistics(const Picture& picture);

    // After a new connection: every retained state that has not gone out on it yet
    // (a state published between the connection and this call is not sent twice),
    // then the results and the events kept while the broker was away.
    void Republish();
    // The retained states as they stand, topic by topic.
    std::map<std::string, std::string> Retained() const;

  private:
    // Publishes a retained state when `key` differs from the last one of the topic.
    bool Set(const std::string& topic, const std::string& key, const std::string& payload);
    void PublishMux(const MuxPicture& mux, MuxShown state, const std::string& time);
    void PublishCamera(int camera, const CameraPicture& shown, int mux, const std::string& time);
    void Send(const std::string& topic, const std::string& payload);  // not retained
    // Sends what was kept, oldest first, while the broker takes it (under mutex_).
    void SendKept(std::deque<std::pair<std::string, std::string>>& kept);

    Topics topics_;
    bool json_;
    Sender send_;
    mutable std::mutex mutex_;
    struct Kept {
        std::string key, payload;
        uint64_t sentOn = 0;  // the connection it last went out on; 0: none
    };
    Connection connection_;
    std::map<std::string, Kept> retained_;
    // What each multiplexer and camera showed in the last picture (the poll's thread
    // only): most pictures change nothing, and are passed over before a topic or a
    // payload is made.
    std::array<std::string, kMuxCount> muxSeen_;
    std::array<std::string, kMuxCount * kCamerasPerMux + 1> cameraSeen_;  // by camera 1..100
    std::deque<std::pair<std::string, std::string>> backlog_;             // events while away
    std::deque<std::pair<std::string, std::string>> results_;             // results while away
};

}  // namespace roderavo::tool::bridge
