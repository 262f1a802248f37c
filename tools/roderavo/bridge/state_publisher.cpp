#include "bridge/state_publisher.h"

#include <cstdio>

#include "address/camera_range.h"
#include "output/json_out.h"
#include "output/text.h"
#include "poll/live_view.h"
#include "poll/poll_gates.h"

namespace roderavo::tool::bridge {

namespace {

constexpr std::size_t kBacklog = 256;  // events kept while the broker is away
constexpr uint8_t kVideoLoss = 0x2E;

std::string LookName(CameraLook look) {
    switch (look) {
        case CameraLook::Fine:
            return "fine";
        case CameraLook::Alarm:
            return "alarm";
        case CameraLook::VideoLoss:
            return "video-loss";
        case CameraLook::Unknown:
            return "unknown";
        case CameraLook::NotRead:
            break;
    }
    return {};
}

int CameraOf(int mux, int index) {
    return FirstCamera(mux) + index;
}

}  // namespace

std::string PublishedMuxState(const MuxView& view, MuxState shown) {
    const bool answered = view.lastGood.has_value();
    switch (shown) {
        case MuxState::Waiting:
            return {};
        case MuxState::Ok:
            return "ok";
        case MuxState::Stale:
        case MuxState::Failing:
            return answered ? "failing" : "absent";
        case MuxState::Demoted:
            return answered ? "demoted" : "absent";
    }
    return {};
}

std::string MuxAvailability(const std::string& muxState) {
    return muxState == "ok" ? "online" : "offline";
}

std::string PublishedCameraState(const MuxView& view, const std::string& muxState, int index) {
    if (muxState == "demoted" || muxState == "absent") return "unknown";
    const auto i = static_cast<std::size_t>(index);
    return LookName(LookOf(view.alarm[i], view.videoLoss[i]));
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

std::vector<int> StatePublisher::Publish(const std::vector<MuxView>& muxes,
                                         PollClock::time_point now,
                                         std::chrono::milliseconds staleAfter) {
    std::vector<int> reports;
    const std::string time = IsoTimestampNow();
    for (const MuxView& view : muxes) {
        const int m = view.mux;
        const std::string state = PublishedMuxState(view, ShownState(view, now, staleAfter));
        if (state.empty()) continue;
        // What is read of a multiplexer that does not answer now is not true now: its
        // cameras are unavailable to whoever shows them (Home Assistant).
        const std::string availability = MuxAvailability(state);
        Set(topics_.Mux(m, "availability"), availability, availability);
        Set(topics_.Mux(m, "state"), state,
            json_
                ? JsonText(
                      {{"mux", m}, {"state", state}, {"lastError", view.lastError}, {"time", time}})
                : state);
        if (!view.version.empty())
            Set(topics_.Mux(m, "version"), view.version,
                json_ ? JsonText({{"mux", m}, {"version", view.version}}) : view.version);
        if (!view.clock.empty())
            Set(topics_.Mux(m, "clock"), view.clock,
                json_ ? JsonText({{"mux", m}, {"clock", view.clock}}) : view.clock);
        for (int i = 0; i < kCamerasPerMux; ++i) {
            const int camera = CameraOf(m, i);
            const auto index = static_cast<std::size_t>(i);
            const auto alarm = view.alarm[index];
            const std::string cameraState = PublishedCameraState(view, state, i);
            if (cameraState.empty()) continue;
            // A camera that goes into alarm or video loss (by either list) wants its
            // report, and so does one found so at the first read.
            auto& before = lastStates_[static_cast<std::size_t>(camera - 1)];
            if (cameraState != before && (cameraState == "alarm" || cameraState == "video-loss"))
                reports.push_back(camera);
            before = cameraState;
            std::string payload = cameraState;
            const bool lost =
                cameraState != "unknown" && (view.videoLoss[index] == 1 || alarm == kVideoLoss);
            if (json_)
                payload = JsonText({{"camera", camera},
                                    {"mux", m},
                                    {"state", cameraState},
                                    {"alarm", cameraState == "alarm"},
                                    {"videoLoss", lost},
                                    {"time", time}});
            // JSON carries both flags, so a change of either is a change.
            const std::string key = cameraState + (json_ && lost ? "+lost" : "");
            Set(topics_.Camera(camera, "state"), key, payload);
        }
    }
    return reports;
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

void StatePublisher::Statistics(const std::vector<MuxView>& muxes) {
    for (const MuxView& view : muxes) {
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
