#include "cli_options.h"

#include <charconv>
#include <ctime>

#include "mux_clock.h"

namespace muxsim {

namespace {

template <typename T>
std::optional<T> Number(std::string_view text) {
    T value{};
    const auto* end = text.data() + text.size();
    const auto [at, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || at != end) return std::nullopt;
    return value;
}

std::optional<double> Probability(std::string_view text) {
    if (text.empty()) return std::nullopt;
    try {
        std::size_t used = 0;
        const double value = std::stod(std::string(text), &used);
        if (used != text.size() || value < 0 || value > 1) return std::nullopt;
        return value;
    } catch (...) {
        return std::nullopt;
    }
}

}  // namespace

std::optional<std::array<bool, kMuxCount>> ParseMuxList(std::string_view text) {
    std::array<bool, kMuxCount> present{};
    while (!text.empty()) {
        const auto comma = text.find(',');
        const auto mux = Number<int>(text.substr(0, comma));
        if (!mux || *mux < 0 || *mux >= kMuxCount) return std::nullopt;
        present[static_cast<std::size_t>(*mux)] = true;
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
        if (text.empty()) return std::nullopt;
    }
    return present;
}

std::optional<std::pair<int, CameraState>> ParseAlarm(std::string_view text) {
    const auto equals = text.find('=');
    const auto camera = Number<int>(text.substr(0, equals));
    if (!camera || *camera < 1 || *camera > kCameraCount) return std::nullopt;
    CameraState state = CameraState::Alarm;
    if (equals != std::string_view::npos && !ParseCameraState(text.substr(equals + 1), &state))
        return std::nullopt;
    return std::pair{*camera, state};
}

std::optional<RandomFault> ParseFaultSpec(std::string_view text) {
    RandomFault result;
    result.probability = 1.0;
    const auto at = text.find('@');
    if (at != std::string_view::npos) {
        const auto probability = Probability(text.substr(at + 1));
        if (!probability) return std::nullopt;
        result.probability = *probability;
        text = text.substr(0, at);
    }
    const auto colon = text.find(':');
    if (!ParseFaultKind(text.substr(0, colon), &result.fault.kind) ||
        result.fault.kind == FaultKind::Replace)  // needs bytes: for programs only
        return std::nullopt;
    if (colon != std::string_view::npos) {
        const auto number = Number<int>(text.substr(colon + 1));
        if (!number || *number < 0 || *number > 600'000) return std::nullopt;
        if (result.fault.kind == FaultKind::Garbage)
            result.fault.count = *number;
        else
            result.fault.ms = *number;
    }
    return result;
}

std::optional<std::array<uint8_t, 8>> ParseClockText(std::string_view text) {
    // YYYY-MM-DD HH:MM:SS
    if (text.size() != 19 || text[4] != '-' || text[7] != '-' ||
        (text[10] != ' ' && text[10] != 'T') || text[13] != ':' || text[16] != ':')
        return std::nullopt;
    const auto field = [&](std::size_t at, std::size_t size) {
        return Number<int>(text.substr(at, size));
    };
    const auto year = field(0, 4), month = field(5, 2), day = field(8, 2);
    const auto hour = field(11, 2), minute = field(14, 2), second = field(17, 2);
    if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
    std::tm time{};
    time.tm_year = *year - 1900;
    time.tm_mon = *month - 1;
    time.tm_mday = *day;
    time.tm_hour = *hour;
    time.tm_min = *minute;
    time.tm_sec = *second;
    const auto complete = CompleteClock(time);
    if (!complete) return std::nullopt;
    return EncodeClock(*complete);
}

}  // namespace muxsim
