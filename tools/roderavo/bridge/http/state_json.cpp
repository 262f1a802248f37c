#include "bridge/http/state_json.h"

#include <cmath>

#include "address/camera_range.h"
#include "poll/poll_gates.h"

namespace roderavo::tool::bridge {

namespace {

// A multiplexer not tried yet has not answered since the bridge started: absent, as
// the Modbus face reads it.
std::string_view MuxWord(MuxShown state) {
    return state == MuxShown::kNotYet ? Word(MuxShown::kAbsent) : Word(state);
}

Json MuxDocument(const Picture& picture, const MuxPicture& mux, PollClock::time_point now) {
    Json age = nullptr;
    if (mux.lastGood) {
        const double seconds = std::chrono::duration<double>(now - *mux.lastGood).count();
        age = static_cast<int64_t>(std::floor(std::max(seconds, 0.0)));
    }
    Json statistics = StatisticsRecord(mux.figures, true);
    statistics.erase("mux");
    statistics.erase("state");
    return {{"mux", mux.mux},
            {"state", MuxWord(picture.MuxAt(mux.mux, now))},
            {"age", age},
            {"clock", mux.clock},
            {"version", mux.version},
            {"statistics", statistics}};
}

Json CameraDocument(const Picture& picture, int camera, PollClock::time_point now,
                    const std::map<int, AlarmReportSeen>& reports) {
    CameraPicture shown = picture.CameraAt(camera, now);
    if (shown.state == CameraShown::kNotRead) shown.state = CameraShown::kUnknown;
    const auto report = reports.find(camera);
    const bool alarmed =
        shown.state == CameraShown::kAlarm || shown.state == CameraShown::kVideoLoss;
    return {{"camera", camera},
            {"mux", MuxOfCamera(camera)},
            {"state", Word(shown.state)},
            {"alarm", shown.state == CameraShown::kAlarm},
            {"videoLoss", shown.videoLoss},
            {"report", alarmed && report != reports.end() ? report->second.text : ""},
            {"reportTime", alarmed && report != reports.end() ? report->second.time : ""}};
}

}  // namespace

Json StateDocument(const Picture& picture, PollClock::time_point now, const BridgeFacts& facts,
                   const std::map<int, AlarmReportSeen>& reports,
                   const std::vector<TimedEvent>& events) {
    Json muxes = Json::array();
    for (const MuxPicture& mux : picture.Muxes()) muxes.push_back(MuxDocument(picture, mux, now));
    Json cameras = Json::array();
    for (int camera = 1; camera <= kLastCamera; ++camera)
        cameras.push_back(CameraDocument(picture, camera, now, reports));
    Json log = Json::array();
    for (const TimedEvent& event : events)
        log.push_back({{"time", event.time}, {"text", event.text}});
    return {{"site", facts.site},
            {"status", "online"},
            {"bridge",
             {{"port", facts.port},
              {"version", facts.version},
              {"started", facts.started},
              {"writable", facts.writable}}},
            {"muxes", muxes},
            {"cameras", cameras},
            {"events", log}};
}

}  // namespace roderavo::tool::bridge
