// The texts a status read stores: camera states, the clock and the alarm report.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/short_text.h"
#include "frame.h"

namespace roderavo {

// The text of an accepted alarm-state byte; empty for every other byte.
std::string_view CameraStateText(uint8_t state);

// True for the video-loss bytes a list may carry: 0x00 and 0x01.
constexpr bool IsVideoLossByte(uint8_t value) {
    return value <= 0x01;
}

// The longest report text, "dd.mm.yyyy hh:mm:ss hrs Video Loss".
inline constexpr std::size_t kReportTextLength = 34;
using ReportTextBuffer = ShortText<kReportTextLength>;

// "dd.mm.ccyy hh:mm:ss hrs" from the BCD date and time at reply positions 6..13.
ReportTextBuffer ClockText(const ReplyBuffer& reply);
// The clock text, a space and the CameraStateText of position 17.
ReportTextBuffer ReportText(const ReplyBuffer& reply);

// Reply position of the camera state in an alarm report.
inline constexpr std::size_t kReportStatePos = 17;

}  // namespace roderavo
