#include "bridge/mqtt/state_publisher.h"

#include <cstdio>

#include "address/camera_range.h"
#include "output/json_out.h"
#include "output/text.h"
#include "poll/poll_gates.h"

namespace roderavo::tool::bridge {

namespace {

constexpr std::size_t kBacklog = 256;  // events kept while the broker is away

}  // namespace

std::string_view MuxAvailability(MuxShown state) {
    return state == MuxShown::kOk ? "online" : "offline";
}

StatePublisher::StatePublisher(Topics topics, bool json, Sender send, Connection connection)
    : topics_(std::move(topics)),
      json_(json),
      send_(std::move(send)),
      connection_(connection ? std::move(connection) : [] { return uint64_t{0}; }) {}

bool StatePublisher::Set(const std::string& topic, const std::string& key,
                         const std::string& payload) {
    std::lock_guard lock(mutex_);
    auto found = retained_.find(topic);
    if (found != retained_.end() && found->second.key == key) return false;
    const uint64_t on = connection_();
    // When the broker is away, Republish sends it later.
    retained_[topic] = Kept{key, payload, send_(topic, payload, true) ? on : 0};
    return true;
}

void StatePublisher::Send(const std::string& topic, const std::string& payload) {
    std::lock_guard lock(mutex_);
    if (send_(topic, payload, false)) return;
    backlog_.emplace_back(topic, payload);
    if (backlog_.size() > kBacklog) backlog_.pop_front();
}

void StatePublisher::Result(const std::string& topic, const std::string& payload) {
    std::lock_guard lock(mutex_);
    // After those kept, in the order the commands ran.
    results_.emplace_back(topic, payload);
    SendKept(results_);
}

void StatePublisher::SendKept(std::deque<std::pair<std::string, std::string>>& kept) {
    while (!kept.empty() && send_(kept.front().first, kept.front().second, false)) kept.pop_front();
}

std::size_t StatePublisher::UnsentResults() const {
    std::lock_guard lock(mutex_);
    return results_.size();
}

void StatePublisher::Publish(const Picture& picture, PollClock::time_point now) {
    const std::string time = IsoTimestampNow();
    for (const MuxPicture& mux : picture.Muxes()) {
        const MuxShown state = picture.MuxAt(mux.mux, now);
        if (state == MuxShown::kNotYet) continue;
        PublishMux(mux, state, time);
        for (int i = 0; i < kCamerasPerMux; ++i)
            PublishCamera(FirstCamera(mux.mux) + i, mux.cameras[static_cast<std::size_t>(i)],
                          mux.mux, time);
    }
}

void StatePublisher::PublishMux(const MuxPicture& mux, MuxShown shown, const std::string& time) {
    const int m = mux.mux;
    const std::string state(Word(shown));
    // What is read of a multiplexer that does not answer now is not true now: its
    // cameras are unavailable to whoever shows them (Home Assistant).
    const std::string availability(MuxAvailability(shown));
    std::string seen = availability + "|" + state + "|" + mux.version + "|" + mux.clock;
    if (m >= 0 && m < static_cast<int>(muxSeen_.size())) {
        if (muxSeen_[static_cast<std::size_t>(m)] == seen) return;
        muxSeen_[static_cast<std::size_t>(m)] = std::move(seen);
    }
    Set(topics_.Mux(m, "availability"), availability, availability);
    Set(topics_.Mux(m, "state"), state,
        json_
            ? JsonText({{"mux", m}, {"state", state}, {"lastError", mux.lastError}, {"time", time}})
            : state);
    if (!mux.version.empty())
        Set(topics_.Mux(m, "version"), mux.version,
            json_ ? JsonText({{"mux", m}, {"version", mux.version}}) : mux.version);
    if (!mux.clock.empty())
        Set(topics_.Mux(m, "clock"), mux.clock,
            json_ ? JsonText({{"mux", m}, {"clock", mux.clock}}) : mux.clock);
}

void StatePublisher::PublishCamera(int camera, const CameraPicture& shown, int mux,
                                   const std::string& time) {
    const std::string state(Word(shown.state));
    if (state.empty()) return;
    // JSON carries both flags, so a change of either is a change.
    const std::string key = state + (json_ && shown.videoLoss ? "+lost" : "");
    if (camera > 0 && camera < static_cast<int>(cameraSeen_.size())) {
        if (cameraSeen_[static_cast<std::size_t>(camera)] == key) return;
        cameraSeen_[static_cast<std::size_t>(camera)] = key;
    }
    std::string payload = state;
    if (json_)
        payload = JsonText({{"camera", camera},
                            {"mux", mux},
                            {"state", state},
                            {"alarm", shown.state == CameraShown::kAlarm},
                            {"videoLoss", shown.videoLoss},
                            {"time", time}});
    Set(topics_.Camera(camera, "state"), key, payload);
}

void StatePublisher::AlarmReport(int camera, const std::string& state, const std::string& report) {
    const std::string payload = json_            ? JsonText({{"camera", camera},
                                                             {"state", state},
                                                             {"report", report},
                                                             {"time", IsoTimestampNow()}})
                                : report.empty() ? state
                                                 : report;
    Send(topics_.Camera(camera, "alarm"), payload);
}

void StatePublisher::Event(const std::string& text) {
    Send(topics_.Event(), json_ ? JsonText({{"time", IsoTimestampNow()}, {"event", text}})
                                : LocalTimeMsText() + " " + text);
}

void StatePublisher::Statistics(const Picture& picture) {
    for (const MuxPicture& mux : picture.Muxes()) {
        const MuxView& view = mux.figures;
        Json record = StatisticsRecord(view);
        record["time"] = IsoTimestampNow();
        // Each time, also when nothing changed: the time says the figures are current.
        const std::string payload = JsonText(record);
        Set(topics_.Mux(view.mux, "statistics"), payload, payload);
    }
}

void StatePublisher::Republish() {
    std::lock_guard lock(mutex_);
    const uint64_t on = connection_();
    for (auto& [topic, kept] : retained_) {
        if (on != 0 && kept.sentOn == on) continue;  // out on this connection already
        if (send_(topic, kept.payload, true)) kept.sentOn = on;
    }
    SendKept(results_);
    SendKept(backlog_);
}

std::map<std::string, std::string> StatePublisher::Retained() const {
    std::lock_guard lock(mutex_);
    std::map<std::string, std::string> out;
    for (const auto& [topic, kept] : retained_) out[topic] = kept.payload;
    return out;
}

}  // namespace roderavo::tool::bridge
