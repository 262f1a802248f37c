// The reply checks on bytes alone, without a line: every verdict the readers can
// reach, and how many bytes each reply takes.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "protocol/reply_check.h"
#include "support/frame_bytes.h"

namespace {

using roderavo::CheckReply;
using roderavo::DriverStatus;
using roderavo::ReplyExpectation;
using roderavo_test::Acknowledgement;
using roderavo_test::StatusReply;
using Bytes = std::vector<uint8_t>;

Bytes With(Bytes frame, std::size_t position, uint8_t value) {
    frame[position] = value;
    return frame;
}
Bytes Plus(Bytes frame, std::initializer_list<uint8_t> more) {
    frame.insert(frame.end(), more);
    return frame;
}
Bytes Cut(const Bytes& frame, std::size_t count) {
    return Bytes(frame.begin(), frame.begin() + static_cast<long>(count));
}

TEST(ProtocolReplyCheck, VerdictsAndCounts) {
    const ReplyExpectation version{false, 0x48, 0x11};
    const ReplyExpectation alarm{false, 0x49, 0x11};
    const ReplyExpectation ack{true, 0, 0x11};
    const Bytes good = StatusReply(0x48, 0x11, {'V', '1'});
    const Bytes report = StatusReply(0x49, 0x11, Bytes(12, 0x00));  // length byte 18
    struct Case {
        std::string name;
        Bytes bytes;
        ReplyExpectation expected;
        DriverStatus verdict;
        uint16_t received;
    };
    const std::vector<Case> cases = {
        {"good reply", good, version, DriverStatus::Ok, 9},
        {"bytes after it stay on the line", Plus(good, {1, 2}), version, DriverStatus::Ok, 9},
        {"no start byte", With(good, 0, 0xFE), version, DriverStatus::Malformed, 2},
        {"length byte 5", With(good, 1, 5), version, DriverStatus::Malformed, 2},
        {"length byte 50", With(good, 1, 50), version, DriverStatus::Malformed, 2},
        {"destination", With(good, 2, 0xF1), version, DriverStatus::Malformed, 9},
        {"command", good, alarm, DriverStatus::Malformed, 9},
        {"source", good, ReplyExpectation{false, 0x48, 0x21}, DriverStatus::Malformed, 9},
        {"marker", With(good, 5, 0x11), version, DriverStatus::Malformed, 9},
        {"checksum", With(good, 8, 0x00), version, DriverStatus::Malformed, 9},
        {"truncated in the start", Cut(good, 1), version, DriverStatus::CommFailure, 0},
        {"truncated in the rest", Cut(good, 8), version, DriverStatus::CommFailure, 2},
        {"alarm report with its extra byte", Plus(report, {0x5A}), alarm, DriverStatus::Ok, 20},
        {"alarm report: its checksum is not looked at", Plus(With(report, 18, 0x00), {0x5A}), alarm,
         DriverStatus::Ok, 20},
        {"alarm report without the extra byte", report, alarm, DriverStatus::CommFailure, 19},
        {"alarm state without a report: checksum checked",
         With(StatusReply(0x49, 0x11, {}), 6, 0x00), alarm, DriverStatus::Malformed, 7},
        {"acknowledgement", Acknowledgement(0x11), ack, DriverStatus::Ok, 8},
        {"acknowledgement from another multiplexer", Acknowledgement(0x21), ack,
         DriverStatus::Malformed, 8},
        {"acknowledgement with status 1", Acknowledgement(0x11, 0x01), ack, DriverStatus::Malformed,
         8},
        {"status reply for an acknowledgement", good, ack, DriverStatus::Malformed, 9},
        {"acknowledgement with a bad checksum", With(Acknowledgement(0x11), 7, 0x00), ack,
         DriverStatus::Malformed, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        uint16_t received = 99;
        EXPECT_EQ(CheckReply(c.bytes, c.expected, received), c.verdict);
        EXPECT_EQ(received, c.received);
    }
}

// Whatever the bytes, the check ends within the reply buffer.
TEST(ProtocolReplyCheck, RandomBytesNeverReachPastTheBuffer) {
    std::mt19937 random(20261207);
    for (int round = 0; round < 20000; ++round) {
        Bytes bytes(64);
        for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(random());
        bytes[0] = round % 4 == 0 ? bytes[0] : 0xFF;
        bytes[3] = round % 3 == 0 ? 0x49 : bytes[3];
        const ReplyExpectation expected{round % 5 == 0, bytes[3], bytes[4]};
        uint16_t received = 0;
        const DriverStatus verdict = CheckReply(bytes, expected, received);
        ASSERT_TRUE(verdict == DriverStatus::Ok || verdict == DriverStatus::Malformed);
        ASSERT_LE(received, 51);
    }
}

}  // namespace
