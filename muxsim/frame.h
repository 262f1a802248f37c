// Frames as the multiplexer builds them: status replies, alarm reports and
// acknowledgements, and the checks a request must pass to be answered. Also the one
// decoder of frames in both directions, which the simulator's trace and the roderavo
// tool's protocol tap share.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "simulator.h"

namespace muxsim {

using Bytes = std::vector<uint8_t>;

inline constexpr int kMinLength = 6;           // a frame without payload
inline constexpr int kMaxLength = 49;          // the longest frame a peer reads (50 bytes)
inline constexpr int kAlarmReportLength = 18;  // the report is one byte longer
inline constexpr int kMaxVersionText = kMaxLength - kMinLength;

// Writes the checksum of positions 0..L-1 at position L (L = frame[1]).
void StoreChecksum(Bytes& frame);
bool ChecksumOk(std::span<const uint8_t> frame);

// FF L F0 command source 10 payload checksum.
Bytes BuildStatusReply(uint8_t command, uint8_t source, std::span<const uint8_t> payload);
// The 20-byte alarm report: length byte 18, clock at 6..13, state at 17, checksum at 18,
// and one byte more at 19.
Bytes BuildAlarmReport(uint8_t source, const std::array<uint8_t, 8>& clock, uint8_t state);
// FF 07 F0 04 source 10 status checksum.
Bytes BuildAcknowledgement(uint8_t source, uint8_t status);

// What one frame taken from the line says, in either direction.
struct FrameFacts {
    bool framed = false;   // a start byte, a possible length byte and all its bytes
    bool reply = false;    // addressed to the host (0xF0): a status reply or acknowledgement
    bool control = false;  // a control request (source 0x3E)
    int mux = -1;          // the multiplexer: a request's destination, a reply's source
    uint8_t address = 0;   // that address byte
    uint8_t command = 0;
    bool checksumOk = false;
    uint8_t expectedChecksum = 0;
    std::span<const uint8_t> payload{};  // the bytes between position 6 and the checksum
};
FrameFacts DecodeFrame(std::span<const uint8_t> frame);

// The multiplexer number 0..4 of an address byte, else -1.
int MuxOfAddress(uint8_t address);
// The command's mnemonic for a request or reply ("VER", "KEY", ...), or "".
std::string_view CommandName(uint8_t command, bool control);

}  // namespace muxsim
