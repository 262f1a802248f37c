#include "protocol/reply_check.h"

#include <algorithm>

#include "protocol/checksum.h"
#include "protocol/command_table.h"

namespace roderavo {

namespace {

bool ChecksumMatches(std::span<const uint8_t, kReplyBufferSize> reply) {
    const uint8_t length = reply[kPosLength];
    return reply[length] == ComputeChecksum(reply, length);
}

bool HeaderMatches(std::span<const uint8_t, kReplyBufferSize> reply, uint8_t command,
                   int64_t source) {
    return reply[kPosDestination] == kReplyDestination && reply[kPosCommand] == command &&
           reply[kPosSource] == source && reply[kPosMarker] == kMarkerByte;
}

// The alarm report carries one byte more than its length byte announces; that
// byte is not part of the checksum.
bool IsAlarmReport(std::span<const uint8_t, kReplyBufferSize> reply) {
    return reply[kPosCommand] == kCommandAlarmState && reply[kPosLength] > kMinLengthByte;
}

constexpr ReplyProgress Need(uint16_t count, std::size_t at, ReplyPart part) {
    return {count, static_cast<uint16_t>(at), part, DriverStatus::Ok};
}
constexpr ReplyProgress Verdict(bool good) {
    return {0, 0, ReplyPart::Start, good ? DriverStatus::Ok : DriverStatus::Malformed};
}

}  // namespace

ReplyProgress ExamineReply(std::span<const uint8_t, kReplyBufferSize> reply, uint16_t got,
                           const ReplyExpectation& expected) {
    if (got < 2) return Need(2, kPosStart, ReplyPart::Start);
    // Only a start byte and a length byte that can form a frame inside the buffer
    // let anything more be read.
    const uint8_t length = reply[kPosLength];
    if (reply[kPosStart] != kStartByte || length < kMinLengthByte || length > kMaxLengthByte)
        return Verdict(false);
    const auto frameEnd = static_cast<uint16_t>(length + 1);
    if (got < frameEnd) return Need(static_cast<uint16_t>(frameEnd - got), got, ReplyPart::Rest);

    if (expected.acknowledgement)
        return Verdict(HeaderMatches(reply, kAcknowledgeCommand, expected.source) &&
                       reply[kPosPayload] == kAcknowledgeOk && ChecksumMatches(reply));
    if (!HeaderMatches(reply, expected.command, expected.source)) return Verdict(false);
    if (IsAlarmReport(reply))
        return got == frameEnd ? Need(1, kAlarmReportExtraPos, ReplyPart::Extra) : Verdict(true);
    return Verdict(ChecksumMatches(reply));
}

DriverStatus CheckReply(std::span<const uint8_t> bytes, const ReplyExpectation& expected,
                        uint16_t& received) {
    ReplyBuffer reply{};
    received = 0;
    for (;;) {
        const ReplyProgress step = ExamineReply(reply, received, expected);
        if (step.more == 0) return step.verdict;
        if (bytes.size() - received < step.more) return DriverStatus::CommFailure;
        std::copy_n(bytes.begin() + received, step.more, reply.begin() + step.at);
        received = static_cast<uint16_t>(received + step.more);
    }
}

}  // namespace roderavo
