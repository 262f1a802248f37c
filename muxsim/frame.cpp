#include "frame.h"

namespace muxsim {

uint8_t FrameChecksum(const uint8_t* frame, std::size_t count) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < count; ++i)
        if (frame[i] != kStartByte) sum += frame[i];
    return static_cast<uint8_t>((256u - (sum & 0xFFu)) & 0xFFu);
}

void StoreChecksum(Bytes& frame) {
    if (frame.size() < 2) return;
    const std::size_t length = frame[1];
    if (length >= frame.size()) return;
    frame[length] = FrameChecksum(frame.data(), length);
}

bool ChecksumOk(std::span<const uint8_t> frame) {
    if (frame.size() < 2) return false;
    const std::size_t length = frame[1];
    if (length >= frame.size()) return false;
    return frame[length] == FrameChecksum(frame.data(), length);
}

Bytes BuildStatusReply(uint8_t command, uint8_t source, std::span<const uint8_t> payload) {
    Bytes frame(kMinLength + payload.size() + 1, 0);
    frame[0] = kStartByte;
    frame[1] = static_cast<uint8_t>(kMinLength + payload.size());
    frame[2] = kHostAddress;
    frame[3] = command;
    frame[4] = source;
    frame[5] = kFrameMarker;
    for (std::size_t i = 0; i < payload.size(); ++i) frame[kMinLength + i] = payload[i];
    StoreChecksum(frame);
    return frame;
}

Bytes BuildAlarmReport(uint8_t source, const std::array<uint8_t, 8>& clock, uint8_t state) {
    Bytes frame(kAlarmReportLength + 2, 0);
    frame[0] = kStartByte;
    frame[1] = kAlarmReportLength;
    frame[2] = kHostAddress;
    frame[3] = kCmdAls;
    frame[4] = source;
    frame[5] = kFrameMarker;
    for (std::size_t i = 0; i < clock.size(); ++i) frame[6 + i] = clock[i];
    frame[17] = state;
    StoreChecksum(frame);
    frame[19] = 0x00;  // the byte past the announced length
    return frame;
}

Bytes BuildAcknowledgement(uint8_t source, uint8_t status) {
    Bytes frame{kStartByte, 7, kHostAddress, kAckCommand, source, kFrameMarker, status, 0};
    StoreChecksum(frame);
    return frame;
}

FrameFacts DecodeFrame(std::span<const uint8_t> frame) {
    FrameFacts facts;
    if (frame.size() < kMinLength + 1u || frame[0] != kStartByte) return facts;
    const std::size_t length = frame[1];
    if (length < kMinLength || length >= frame.size()) return facts;
    facts.framed = true;
    facts.reply = frame[2] == kHostAddress;
    facts.address = facts.reply ? frame[4] : frame[2];
    facts.mux = MuxOfAddress(facts.address);
    facts.command = frame[3];
    facts.control = !facts.reply && frame[4] == kControlSource;
    facts.expectedChecksum = FrameChecksum(frame.data(), length);
    facts.checksumOk = frame[length] == facts.expectedChecksum;
    facts.payload = frame.subspan(kMinLength, length - kMinLength);
    return facts;
}

int MuxOfAddress(uint8_t address) {
    for (int mux = 0; mux < kMuxCount; ++mux)
        if (MuxAddress(mux) == address) return mux;
    return -1;
}

std::string_view CommandName(uint8_t command, bool control) {
    switch (command) {
        case kCmdVer:
            return "VER";
        case kCmdAls:
            return "ALS";
        case kCmdAas:
            return "AAS";
        case kCmdVls:
            return "VLS";
        case kCmdTad:
            return "TAD";
        case kCmdKey:
            return control ? "KEY" : "";
        case kCmdPtz:
            return control ? "PTZ" : "";
        case kCmdCaa:
            return control ? "CAA" : "";
        case kCmdIhk:
            return control ? "IHK" : "";
        case kCmdJoy:
            return control ? "JOY" : "";
        case kAckCommand:
            return control ? "" : "ACK";
        default:
            return "";
    }
}

}  // namespace muxsim
