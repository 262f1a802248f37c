#include "bridge/http/metrics.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <initializer_list>
#include <map>
#include <utility>

#include "address/camera_range.h"

namespace roderavo::tool::bridge {

namespace {

using Labels = std::initializer_list<std::pair<std::string_view, std::string_view>>;

// A label's value as the text format quotes it.
std::string Escaped(std::string_view value) {
    std::string escaped;
    for (const char c : value) {
        if (c == '\\' || c == '"') escaped += '\\';
        escaped += c == '\n' ? std::string("\\n") : std::string(1, c);
    }
    return escaped;
}

// Whole numbers in full (a memory size as 1000000, not 1e+06), others as short as
// they read back exactly.
std::string Number(double value) {
    char text[32];
    const bool whole = std::abs(value) < 0x1p53 && value == std::trunc(value);
    const auto end = whole
                         ? std::to_chars(text, text + sizeof text, static_cast<int64_t>(value)).ptr
                         : std::to_chars(text, text + sizeof text, value).ptr;
    return {text, end};
}

// The text, one family after the other: each family's samples follow its HELP and TYPE.
class Exposition {
  public:
    void Family(std::string_view name, std::string_view type, std::string_view help) {
        text_.append("# HELP ").append(name).append(" ").append(help).append("\n");
        text_.append("# TYPE ").append(name).append(" ").append(type).append("\n");
    }
    void Sample(std::string_view name, Labels labels, double value) {
        text_.append(name);
        const char* separator = "{";
        for (const auto& [label, text] : labels) {
            text_.append(separator).append(label).append("=\"").append(Escaped(text)).append("\"");
            separator = ",";
        }
        text_.append(labels.size() > 0 ? "} " : " ").append(Number(value)).append("\n");
    }
    std::string Text() && { return std::move(text_); }

  private:
    std::string text_;
};

constexpr MuxShown kMuxStates[] = {MuxShown::kOk, MuxShown::kFailing, MuxShown::kDemoted,
                                   MuxShown::kAbsent};
constexpr CameraShown kCameraStates[] = {CameraShown::kFine, CameraShown::kAlarm,
                                         CameraShown::kVideoLoss, CameraShown::kUnknown};

void MuxFamilies(Exposition& out, const Picture& picture, PollClock::time_point now) {
    out.Family("roderavo_mux_up", "gauge", "1 while the multiplexer is ok, else 0.");
    for (const MuxPicture& mux : picture.Muxes())
        out.Sample("roderavo_mux_up", {{"mux", std::to_string(mux.mux)}},
                   picture.MuxAt(mux.mux, now) == MuxShown::kOk ? 1 : 0);
    out.Family("roderavo_mux_state", "gauge",
               "1 for the multiplexer's state (ok, failing, demoted, absent), 0 for the others.");
    for (const MuxPicture& mux : picture.Muxes()) {
        const MuxShown state = picture.MuxAt(mux.mux, now);
        for (const MuxShown each : kMuxStates)
            out.Sample("roderavo_mux_state",
                       {{"mux", std::to_string(mux.mux)}, {"state", Word(each)}},
                       state == each ? 1 : 0);
    }
    out.Family("roderavo_mux_last_good_read_age_seconds", "gauge",
               "Seconds since the multiplexer's last good read (none before its first).");
    for (const MuxPicture& mux : picture.Muxes()) {
        if (!mux.lastGood) continue;
        const double age = std::chrono::duration<double>(now - *mux.lastGood).count();
        out.Sample("roderavo_mux_last_good_read_age_seconds", {{"mux", std::to_string(mux.mux)}},
                   std::max(age, 0.0));
    }
}

void CameraFamily(Exposition& out, const Picture& picture, PollClock::time_point now) {
    std::map<CameraShown, int> counts;
    for (int camera = 1; camera <= kLastCamera; ++camera) {
        const CameraShown state = picture.CameraAt(camera, now).state;
        ++counts[state == CameraShown::kNotRead ? CameraShown::kUnknown : state];
    }
    out.Family("roderavo_cameras", "gauge",
               "The cameras in each state (fine, alarm, video-loss, unknown) as shown now.");
    for (const CameraShown state : kCameraStates)
        out.Sample("roderavo_cameras", {{"state", Word(state)}}, counts[state]);
}

void ExchangeFamily(Exposition& out, const Picture& picture) {
    out.Family("roderavo_exchanges_total", "counter",
               "The line's replies to each multiplexer's requests, by how they came back.");
    for (const MuxPicture& mux : picture.Muxes()) {
        const LineCounts& line = mux.figures.line;
        const std::string number = std::to_string(mux.mux);
        const std::pair<std::string_view, uint64_t> results[] = {
            {"ok", line.goodReplies},
            {"timeout", line.timeouts},
            {"bad_checksum", line.badChecksums},
            {"wrong_source", line.wrongSource},
            {"refused", line.refused},
            {"other", line.otherBad}};
        for (const auto& [result, count] : results)
            out.Sample("roderavo_exchanges_total", {{"mux", number}, {"result", result}},
                       static_cast<double>(count));
    }
}

void CycleFamily(Exposition& out, const CycleCounts& cycles) {
    out.Family("roderavo_poll_cycle_seconds", "histogram",
               "How long the poll's cycles that read a gate took.");
    uint64_t count = 0;
    for (std::size_t i = 0; i < cycles.inBucket.size(); ++i) {
        count += cycles.inBucket[i];
        const std::string bound = i < kCycleBounds.size() ? Number(kCycleBounds[i]) : "+Inf";
        out.Sample("roderavo_poll_cycle_seconds_bucket", {{"le", bound}},
                   static_cast<double>(count));
    }
    out.Sample("roderavo_poll_cycle_seconds_sum", {}, cycles.seconds);
    out.Sample("roderavo_poll_cycle_seconds_count", {}, static_cast<double>(count));
}

void CommandFamilies(Exposition& out, const CountsSeen& counts) {
    out.Family("roderavo_commands_total", "counter",
               "The commands answered, by the face that brought them and how they ended.");
    for (std::size_t face = 0; face < kFaceIds; ++face)
        for (std::size_t outcome = 0; outcome < kOutcomes; ++outcome)
            out.Sample("roderavo_commands_total",
                       {{"face", Word(static_cast<FaceId>(face))},
                        {"result", Word(static_cast<Outcome>(outcome))}},
                       static_cast<double>(counts.commands[face][outcome]));
    const auto connections = [&](FaceId face) {
        return counts.connections[static_cast<std::size_t>(face)];
    };
    out.Family("roderavo_mqtt_connected", "gauge", "1 while the broker is connected, else 0.");
    out.Sample("roderavo_mqtt_connected", {}, connections(FaceId::kMqtt));
    out.Family("roderavo_modbus_connections", "gauge", "The Modbus TCP clients connected.");
    out.Sample("roderavo_modbus_connections", {}, connections(FaceId::kModbus));
    out.Family("roderavo_http_connections", "gauge", "The web face's open connections.");
    out.Sample("roderavo_http_connections", {}, connections(FaceId::kHttp));
}

void ProcessFamilies(Exposition& out, const ProcessFigures& process) {
    const struct {
        const char *name, *type, *help;
        std::optional<double> value;
    } figures[] = {
        {"process_resident_memory_bytes", "gauge", "Resident memory size in bytes.",
         process.residentBytes},
        {"process_cpu_seconds_total", "counter", "Total user and system CPU time spent in seconds.",
         process.cpuSeconds},
        {"process_start_time_seconds", "gauge",
         "Start time of the process since unix epoch in seconds.", process.startTime},
        {"process_open_fds", "gauge", "Number of open file descriptors.", process.openFds},
    };
    for (const auto& figure : figures) {
        if (!figure.value) continue;
        out.Family(figure.name, figure.type, figure.help);
        out.Sample(figure.name, {}, *figure.value);
    }
}

}  // namespace

std::string MetricsText(const Picture& picture, PollClock::time_point now, std::string_view version,
                        const CountsSeen& counts, const ProcessFigures& process) {
    Exposition out;
    out.Family("roderavo_build_info", "gauge", "The bridge's version, in the label; always 1.");
    out.Sample("roderavo_build_info", {{"version", version}}, 1);
    MuxFamilies(out, picture, now);
    CameraFamily(out, picture, now);
    CycleFamily(out, counts.cycles);
    ExchangeFamily(out, picture);
    CommandFamilies(out, counts);
    ProcessFamilies(out, process);
    return std::move(out).Text();
}

std::string MetricsText(const Picture& picture, PollClock::time_point now,
                        std::string_view version) {
    return MetricsText(picture, now, version, ProcessCounters().Seen(), OwnFigures());
}

}  // namespace roderavo::tool::bridge
