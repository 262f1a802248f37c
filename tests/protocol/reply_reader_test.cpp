// The reply readers against hostile bytes on the fake port: every length byte,
// truncated frames, wrong headers, random frames, replies in pieces. The reply
// buffer is a heap block of exactly 50 bytes, so the sanitizers see any access
// past it.
#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "driver_harness.h"
#include "fake_scripted_peer.h"
#include "protocol/reply_reader.h"
#include "serial/comm.h"

namespace protocol_test {
namespace {

using roderavo::DriverStatus;
using roderavo::ReplyBuffer;
using roderavo::ReplyExpectation;

constexpr uint8_t kSentinel = 0xAA;

class ProtocolReplyReader : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(driver.Init(peer.PortName()), 0);
        port = static_cast<roderavo::PortHandle>(driver.Context().PortHandle);
        reply = std::make_unique<ReplyBuffer>();
    }

    // A status reply with the command from multiplexer 1 (0x11), as VER1 expects.
    int32_t Status(uint16_t& received, uint8_t command) {
        return Receive({false, command, 0x11}, received);
    }
    int32_t Ack(uint16_t& received, int64_t source) { return Receive({true, 0, source}, received); }
    int32_t Receive(const ReplyExpectation& expected, uint16_t& received) {
        roderavo::SerialResult lineFailure;
        return static_cast<int32_t>(
            roderavo::ReceiveReply(port, expected, *reply, received, lineFailure));
    }

    void Fresh() {
        reply->fill(kSentinel);
        zanpro::ClearLog();
    }

    // The bytes still waiting on the port, read with the serial layer.
    bool Pending(const Bytes& expected) {
        Bytes got(expected.size());
        return static_cast<bool>(roderavo::CommReceive(driver.Context().PortHandle, got,
                                                       static_cast<uint16_t>(got.size()))) &&
               got == expected;
    }

    FakeScriptedPeer peer;
    DriverHarness driver{nullptr};
    roderavo::PortHandle port = 0;
    std::unique_ptr<ReplyBuffer> reply;
};

TEST_F(ProtocolReplyReader, ImpossibleLengthBytesAreMalformedAndReadNoFurther) {
    Bytes tail(60);
    for (std::size_t i = 0; i < tail.size(); ++i) tail[i] = static_cast<uint8_t>(0x10 + i);
    for (int length = 0; length < 256; ++length) {
        if (length >= 6 && length <= 49) continue;
        SCOPED_TRACE(length);
        for (const bool status : {true, false}) {
            Fresh();
            Bytes bytes = {0xFF, static_cast<uint8_t>(length)};
            for (const uint8_t byte : tail) bytes.push_back(byte);
            ASSERT_TRUE(peer.Send(bytes));
            uint16_t received = 99;
            const int32_t result = status ? Status(received, 0x48) : Ack(received, 0x11);
            EXPECT_EQ(result, 10);
            EXPECT_EQ(received, 2);
            for (std::size_t i = 2; i < reply->size(); ++i) ASSERT_EQ((*reply)[i], kSentinel) << i;
            EXPECT_TRUE(Pending(tail));
            EXPECT_TRUE(zanpro::Log().empty());
        }
    }
}

TEST_F(ProtocolReplyReader, EveryPossibleLengthByteIsReadToItsChecksum) {
    for (uint8_t length = 6; length <= 49; ++length) {
        SCOPED_TRACE(int(length));
        const Bytes payload(length - 6u, 'v');
        const Bytes frame = StatusReply(0x48, 0x11, payload);
        Fresh();
        ASSERT_TRUE(peer.Send(frame));
        uint16_t received = 0;
        EXPECT_EQ(Status(received, 0x48), 0);
        EXPECT_EQ(received, length + 1);
        for (std::size_t i = 0; i < reply->size(); ++i)
            ASSERT_EQ((*reply)[i], i < frame.size() ? frame[i] : kSentinel) << i;

        // An alarm report of that length: one byte more, stored at position 19.
        Bytes report = StatusReply(0x49, 0x11, payload);
        report.back() ^= 0x55;  // its checksum is not looked at
        report.push_back(0xC3);
        Fresh();
        ASSERT_TRUE(peer.Send(report));
        if (length == 6) {
            // No report: an ordinary reply, whose checksum is now wrong.
            EXPECT_EQ(Status(received, 0x49), 10);
            EXPECT_TRUE(Pending({0xC3}));
            continue;
        }
        EXPECT_EQ(Status(received, 0x49), 0);
        EXPECT_EQ(received, length + 2);
        for (std::size_t i = 0; i < reply->size(); ++i) {
            const uint8_t expected =
                i == 19 ? 0xC3 : (i + 1 < report.size() ? report[i] : kSentinel);
            ASSERT_EQ((*reply)[i], expected) << i;
        }
    }
}

TEST_F(ProtocolReplyReader, TruncatedFramesAreLineFailures) {
    const Bytes frame = StatusReply(0x48, 0x11, {'a', 'b', 'c'});
    const Bytes ack = Acknowledgement(0x11);
    for (std::size_t cut = 0; cut < frame.size(); ++cut) {
        SCOPED_TRACE(cut);
        for (const bool status : {true, false}) {
            const Bytes& whole = status ? frame : ack;
            if (cut >= whole.size()) continue;
            Fresh();
            ASSERT_TRUE(peer.Send(Bytes(whole.begin(), whole.begin() + static_cast<long>(cut))));
            uint16_t received = 0;
            const int32_t result = status ? Status(received, 0x48) : Ack(received, 0x11);
            EXPECT_EQ(result, 2);
            EXPECT_EQ(zanpro::Log(), One(8, cut < 2 ? "VERODI: Failed to read first chars from PLC."
                                                    : "VERODI: Failed to read Response from PLC."));
        }
    }
}

TEST_F(ProtocolReplyReader, WrongHeadersAreMalformed) {
    struct Case {
        const char* name;
        Bytes bytes;
        uint16_t received;
        Bytes pending;
    };
    const Bytes good = StatusReply(0x48, 0x11, {'a'});
    auto with = [&](std::size_t position, uint8_t value) {
        Bytes bytes = good;
        bytes[position] = value;
        bytes.back() = 0;
        bytes.back() = Checksum(Bytes(bytes.begin(), bytes.end() - 1));
        return bytes;
    };
    const std::vector<Case> cases = {
        {"start byte",
         {0x00, 0x07, 0xF0, 0x48, 0x11, 0x10, 0x61, 0x00},
         2,
         {0xF0, 0x48, 0x11, 0x10, 0x61, 0x00}},  // nothing read past the first two
        {"destination", with(2, 0xF1), 8, {}},
        {"command", with(3, 0x49), 8, {}},
        {"source", with(4, 0x21), 8, {}},
        {"marker", with(5, 0x11), 8, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fresh();
        ASSERT_TRUE(peer.Send(c.bytes));
        uint16_t received = 0;
        EXPECT_EQ(Status(received, 0x48), 10);
        EXPECT_EQ(received, c.received);  // the bytes taken from the line
        if (!c.pending.empty()) {
            EXPECT_TRUE(Pending(c.pending));
        }
    }
    // The acknowledgement reader reads no further than the first two bytes of a
    // frame without its start byte.
    Fresh();
    ASSERT_TRUE(peer.Send({0x00, 0x07, 0x42}));
    uint16_t received = 5;
    EXPECT_EQ(Ack(received, 0x11), 10);
    EXPECT_EQ(received, 2);
    EXPECT_TRUE(Pending({0x42}));
    // An acknowledgement is checked against the source it is given.
    Fresh();
    ASSERT_TRUE(peer.Send(Acknowledgement(0x21)));
    EXPECT_EQ(Ack(received, 0x21), 0);
    EXPECT_EQ(received, 8);
}

TEST_F(ProtocolReplyReader, RandomFramesNeverOverrun) {
    std::mt19937 random(20261207);
    for (int round = 0; round < 400; ++round) {
        Bytes bytes(60);
        for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(random());
        bytes[0] = (round % 4 == 0) ? bytes[0] : 0xFF;
        if (round % 2 == 0) bytes[1] = static_cast<uint8_t>(6 + random() % 44);
        if (round % 3 == 0) bytes[3] = 0x49;
        Fresh();
        ASSERT_TRUE(peer.Send(bytes));
        uint16_t received = 0;
        const int32_t result = round % 5 == 0 ? Ack(received, 0x11) : Status(received, bytes[3]);
        EXPECT_TRUE(result == 0 || result == 10) << round;
        EXPECT_LE(received, 51);
        peer.Line().DropInput();  // what the reader left
    }
}

TEST_F(ProtocolReplyReader, ReplyInPiecesIsWholeWhileNoReadTimesOut) {
    // The reader asks for the first two bytes, then for the rest; each read waits
    // at most the 100 ms time-out and twice the wire time of what it asks for
    // (ReadWait), and a piece that is not whole by then is not asked for again.
    const Bytes ack = Acknowledgement(0x11);
    struct Case {
        const char* name;
        std::vector<std::pair<fake_port::Ms, Bytes>> pieces;  // arrival, bytes
        int32_t result;
        uint16_t received;  // the bytes of the parts read whole
        fake_port::Ms elapsedMs;
    };
    const Bytes head(ack.begin(), ack.begin() + 2);
    const Bytes middle(ack.begin() + 2, ack.begin() + 5);
    const Bytes tail(ack.begin() + 5, ack.end());
    const std::vector<Case> cases = {
        {"at once", {{0, ack}}, 0, 8, 0},
        {"rest 99 ms later", {{0, head}, {99, Bytes(ack.begin() + 2, ack.end())}}, 0, 8, 99},
        {"three pieces, 60 ms apart", {{0, head}, {60, middle}, {120, tail}}, 0, 8, 120},
        {"last piece as the rest's read ends",
         {{0, head}, {50, middle}, {ReadWait(6), tail}},
         0,
         8,
         ReadWait(6)},
        {"last piece 1 ms too late",
         {{0, head}, {50, middle}, {ReadWait(6) + 1, tail}},
         2,
         2,
         ReadWait(6)},
        {"first two bytes apart",
         {{0, {0xFF}}, {100, Bytes(ack.begin() + 1, ack.end())}},
         0,
         8,
         100},
        {"second byte as the first read ends",
         {{0, {0xFF}}, {ReadWait(2), Bytes(ack.begin() + 1, ack.end())}},
         0,
         8,
         ReadWait(2)},
        {"second byte too late",
         {{0, {0xFF}}, {ReadWait(2) + 1, Bytes(ack.begin() + 1, ack.end())}},
         2,
         0,
         ReadWait(2)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fresh();
        const fake_port::Ms start = fake_port::Now();
        for (const auto& [at, bytes] : c.pieces) peer.Line().Arrive(bytes, start + at);
        uint16_t received = 0;
        EXPECT_EQ(Ack(received, 0x11), c.result);
        EXPECT_EQ(received, c.received);
        EXPECT_EQ(fake_port::Now() - start, c.elapsedMs);
        peer.Line().DropInput();
    }
}

}  // namespace
}  // namespace protocol_test
