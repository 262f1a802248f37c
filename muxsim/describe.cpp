// Person-readable texts: frame descriptions for the trace, state and fault names.
#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <string>

#include "frame.h"

namespace muxsim {

namespace {

struct FaultName {
    FaultKind kind;
    std::string_view name;
};

constexpr std::array<FaultName, 10> kFaultNames{{
    {FaultKind::NoAnswer, "no-answer"},
    {FaultKind::BadChecksum, "bad-checksum"},
    {FaultKind::WrongSource, "wrong-source"},
    {FaultKind::WrongCommand, "wrong-command"},
    {FaultKind::AckStatus, "ack-status"},
    {FaultKind::SplitReply, "split"},
    {FaultKind::Delay, "delay"},
    {FaultKind::Garbage, "garbage"},
    {FaultKind::Trickle, "trickle"},
    {FaultKind::Replace, "replace"},
}};

std::string Hex(uint8_t byte) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", byte);
    return text;
}

std::string ClockText(std::span<const uint8_t> c) {
    char text[64];
    std::snprintf(text, sizeof text, "%02x.%02x.%02x%02x %02x:%02x:%02x (day %x)", c[3], c[2], c[1],
                  c[0], c[5], c[6], c[7], c[4]);
    return text;
}

std::string StateText(uint8_t state) {
    const std::string_view name = CameraStateName(state);
    return name.empty() ? "invalid 0x" + Hex(state) : std::string(name);
}

std::string KeyText(uint8_t code) {
    std::string text = std::to_string(code);
    if (code > 0x20 && code < 0x7F) text += std::string(" '") + static_cast<char>(code) + "'";
    return text;
}

// Cameras of the multiplexer whose list byte is not zero, with their bytes.
std::string ListText(std::span<const uint8_t> list, int mux, bool states) {
    std::string text;
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i] == 0) continue;
        if (!text.empty()) text += ", ";
        text += std::to_string(mux * kCamerasPerMux + static_cast<int>(i) + 1);
        if (states)
            text += " " + StateText(list[i]);
        else if (list[i] != 1)
            text += " invalid 0x" + Hex(list[i]);
    }
    if (text.empty()) text = "none";
    if (list.size() != kCamerasPerMux) text += " (" + std::to_string(list.size()) + " bytes)";
    return (states ? "alarm states: " : "video loss: ") + text;
}

std::string RequestText(uint8_t command, bool control, std::span<const uint8_t> p) {
    const std::string_view name = CommandName(command, control);
    std::string text = name.empty() ? "command 0x" + Hex(command) : std::string(name);
    text += control ? " control request" : " status request";
    std::string detail;
    if (control) {
        switch (command) {
            case kCmdKey:
                if (p.size() == 1) detail = "key " + KeyText(p[0]);
                break;
            case kCmdPtz:
                if (p.size() == 1) detail = "PTZ code " + std::to_string(p[0]);
                break;
            case kCmdCaa:
                detail = "clear alarms";
                break;
            case kCmdIhk:
                if (!p.empty()) {
                    detail = "code 0x" + Hex(p[0]) + ", keys";
                    for (std::size_t i = 1; i < p.size(); ++i) detail += " " + KeyText(p[i]);
                }
                break;
            case kCmdTad:
                if (p.size() == 8) detail = "set clock " + ClockText(p);
                break;
            case kCmdJoy:
                if (p.size() == 3) {
                    detail = "joystick";
                    for (const uint8_t byte : p)
                        detail += " " + std::to_string(static_cast<int8_t>(byte));
                }
                break;
            default:
                break;
        }
    } else if (command == kCmdAls && p.size() == 1) {
        detail = "camera " + std::to_string(p[0]);
    }
    if (detail.empty() && !p.empty()) {
        detail = "payload";
        for (const uint8_t byte : p) detail += " " + Hex(byte);
    }
    return detail.empty() ? text : text + ": " + detail;
}

std::string ReplyText(uint8_t command, int mux, std::span<const uint8_t> p, bool report) {
    if (command == kAckCommand) {
        if (p.size() != 1) return "acknowledgement";
        return "acknowledgement, status " + Hex(p[0]) + (p[0] == 0 ? " (done)" : " (refused)");
    }
    const std::string_view name = CommandName(command, false);
    std::string text = name.empty() ? "command 0x" + Hex(command) : std::string(name);
    text += " status reply";
    switch (command) {
        case kCmdVer: {
            std::string version(p.begin(), std::find(p.begin(), p.end(), 0));
            return text + ": \"" + version + "\"";
        }
        case kCmdTad:
            return p.size() == 8 ? text + ": " + ClockText(p) : text;
        case kCmdAls:
            if (!report) return text + ": no alarm";
            return text + ": alarm report " + StateText(p[11]) + " at " + ClockText(p.first(8));
        case kCmdAas:
            return text + ": " + ListText(p, mux, true);
        case kCmdVls:
            return text + ": " + ListText(p, mux, false);
        default:
            return text;
    }
}

}  // namespace

std::string_view CameraStateName(uint8_t state) {
    switch (static_cast<CameraState>(state)) {
        case CameraState::None:
            return "None";
        case CameraState::Alarm:
            return "Alarm";
        case CameraState::VideoLoss:
            return "Video Loss";
        case CameraState::Unknown:
            return "Unknown";
    }
    return "";
}

std::string_view FaultKindName(FaultKind kind) {
    for (const auto& entry : kFaultNames)
        if (entry.kind == kind) return entry.name;
    return "";
}

bool ParseFaultKind(std::string_view name, FaultKind* kind) {
    for (const auto& entry : kFaultNames) {
        if (entry.name == name) {
            *kind = entry.kind;
            return true;
        }
    }
    return false;
}

bool ParseCameraState(std::string_view name, CameraState* state) {
    std::string folded;
    for (const char c : name)
        if (c != ' ' && c != '-' && c != '_')
            folded += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    constexpr std::array<std::pair<std::string_view, CameraState>, 8> kNames{{
        {"none", CameraState::None},
        {"alarm", CameraState::Alarm},
        {"videoloss", CameraState::VideoLoss},
        {"unknown", CameraState::Unknown},
        {"0x00", CameraState::None},
        {"0x20", CameraState::Alarm},
        {"0x2e", CameraState::VideoLoss},
        {"0xfe", CameraState::Unknown},
    }};
    for (const auto& [text, value] : kNames) {
        if (text == folded) {
            *state = value;
            return true;
        }
    }
    return false;
}

std::string DescribeFrame(const std::vector<uint8_t>& frame) {
    std::string bytes;
    for (const uint8_t byte : frame) bytes += (bytes.empty() ? "" : " ") + Hex(byte);
    const FrameFacts facts = DecodeFrame(frame);
    if (!facts.framed) return "unframed bytes: " + bytes;
    const std::size_t length = frame[1];
    std::string text = facts.mux >= 0
                           ? "mux " + std::to_string(facts.mux) + " (0x" + Hex(facts.address) + ") "
                           : "address 0x" + Hex(facts.address) + " ";
    if (facts.reply) {
        // An alarm report carries the clock and, at position 17, the state.
        const bool report = frame[3] == kCmdAls && length >= kAlarmReportLength;
        text += ReplyText(frame[3], facts.mux, facts.payload, report);
    } else if (frame[4] == kStatusSource || frame[4] == kControlSource) {
        text += RequestText(frame[3], facts.control, facts.payload);
    } else {
        text += "frame from source 0x" + Hex(frame[4]);
    }
    if (frame[5] != kFrameMarker) text += ", byte 5 is 0x" + Hex(frame[5]);
    text += facts.checksumOk ? ", checksum ok"
                             : ", checksum BAD (expected " + Hex(facts.expectedChecksum) + ")";
    return text + ": " + bytes;
}

}  // namespace muxsim
