// The frame layout of the multiplexer protocol: the fixed bytes of requests and
// replies, the multiplexer address byte and the buffers frames live in.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace roderavo {

// Positions within a frame.
inline constexpr std::size_t kPosStart = 0;
inline constexpr std::size_t kPosLength = 1;
inline constexpr std::size_t kPosDestination = 2;
inline constexpr std::size_t kPosCommand = 3;
inline constexpr std::size_t kPosSource = 4;
inline constexpr std::size_t kPosMarker = 5;
inline constexpr std::size_t kPosPayload = 6;

// Fixed bytes.
inline constexpr uint8_t kStartByte = 0xFF;
inline constexpr uint8_t kMarkerByte = 0x10;
inline constexpr uint8_t kStatusSource = 0x3C;   // "<": a status request
inline constexpr uint8_t kControlSource = 0x3E;  // ">": a control request
inline constexpr uint8_t kReplyDestination = 0xF0;
inline constexpr uint8_t kAcknowledgeCommand = 0x04;
inline constexpr uint8_t kAcknowledgeOk = 0x00;

// The length byte of a frame without payload, and the largest one whose frame
// still fits the reply buffer.
inline constexpr uint8_t kMinLengthByte = 6;
inline constexpr uint8_t kMaxLengthByte = 49;

// The alarm report is one byte longer than its length byte says; that byte lands
// here.
inline constexpr std::size_t kAlarmReportExtraPos = 19;

inline constexpr std::size_t kReplyBufferSize = 50;
inline constexpr std::size_t kRequestBufferSize = 20;

using ReplyBuffer = std::array<uint8_t, kReplyBufferSize>;
using RequestBuffer = std::array<uint8_t, kRequestBufferSize>;

static_assert(kMaxLengthByte < kReplyBufferSize);
static_assert(kAlarmReportExtraPos < kReplyBufferSize);

// The address byte of multiplexer plcNum: 16 x plcNum + 1. Kept wide, because a
// plcNum outside 0..4 names no multiplexer and must then match no reply byte.
constexpr int64_t MuxAddress(int64_t plcNum) {
    return 16 * plcNum + 1;
}

}  // namespace roderavo
