#include "status_text.h"

#include <array>

namespace roderavo {

namespace {

struct CameraState {
    uint8_t state;
    std::string_view text;
};

constexpr std::array<CameraState, 4> kCameraStates = {{
    {0x00, "None"},
    {0x20, "Alarm"},
    {0x2E, "Video Loss"},
    {0xFE, "Unknown"},
}};

// Reply positions of the BCD clock bytes.
constexpr std::size_t kYearPos = 6;
constexpr std::size_t kCenturyPos = 7;
constexpr std::size_t kMonthPos = 8;
constexpr std::size_t kDayPos = 9;
constexpr std::size_t kHourPos = 11;
constexpr std::size_t kMinutePos = 12;
constexpr std::size_t kSecondPos = 13;

}  // namespace

std::string_view CameraStateText(uint8_t state) {
    for (const CameraState& entry : kCameraStates)
        if (entry.state == state) return entry.text;
    return {};
}

ReportTextBuffer ClockText(const ReplyBuffer& reply) {
    ReportTextBuffer text;
    text.AppendHex(reply[kDayPos]);
    text.Append(".");
    text.AppendHex(reply[kMonthPos]);
    text.Append(".");
    text.AppendHex(reply[kCenturyPos]);
    text.AppendHex(reply[kYearPos]);
    text.Append(" ");
    text.AppendHex(reply[kHourPos]);
    text.Append(":");
    text.AppendHex(reply[kMinutePos]);
    text.Append(":");
    text.AppendHex(reply[kSecondPos]);
    text.Append(" hrs");
    return text;
}

ReportTextBuffer ReportText(const ReplyBuffer& reply) {
    ReportTextBuffer text = ClockText(reply);
    text.Append(" ");
    text.Append(CameraStateText(reply[kReportStatePos]));
    return text;
}

}  // namespace roderavo
