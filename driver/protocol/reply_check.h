// The checks of a reply frame, as pure functions over the bytes received so far:
// what is still missing, and whether what arrived is a good reply. The readers
// only move the bytes that these ask for.
#pragma once

#include <cstdint>
#include <span>

#include "base/status.h"
#include "protocol/frame.h"

namespace roderavo {

// What the reply must be: a status reply with the request's command from the
// expected multiplexer, or an acknowledgement (status 0x00) from it.
struct ReplyExpectation {
    bool acknowledgement = false;
    uint8_t command = 0;  // a status reply's command
    int64_t source = -1;  // the address byte the reply must come from
};

// The parts of a reply, as they are read.
enum class ReplyPart : uint8_t {
    Start,  // the start byte and the length byte
    Rest,   // the bytes the length byte announces
    Extra,  // the byte an alarm report carries beyond its length byte
};

// The next step: more bytes to read (more > 0: that many, into position at, as
// the part named), or the verdict: Ok or Malformed.
struct ReplyProgress {
    uint16_t more = 0;
    uint16_t at = 0;
    ReplyPart part = ReplyPart::Start;
    DriverStatus verdict = DriverStatus::Ok;
};

// Looks at a reply buffer of which got bytes have arrived, in the order the
// steps asked for them. Never looks past the buffer, whatever the bytes say.
ReplyProgress ExamineReply(std::span<const uint8_t, kReplyBufferSize> reply, uint16_t got,
                           const ReplyExpectation& expected);

// The whole check of a byte sequence as it would arrive on the line: Ok or
// Malformed, or CommFailure when the bytes end before the reply does. received
// counts the bytes the reply took.
DriverStatus CheckReply(std::span<const uint8_t> bytes, const ReplyExpectation& expected,
                        uint16_t& received);

}  // namespace roderavo
