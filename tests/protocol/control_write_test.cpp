// Control writes through KorMain on the fake port with a scripted multiplexer, on
// virtual time: the frames on the wire, the acknowledgements, the failure table
// with the time each ladder takes (read time-out 100 ms).
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "driver_harness.h"
#include "scripted_driver_test.h"

namespace protocol_test {
namespace {

using zanpro::GateStores;

class ProtocolControlWrite : public FakeScriptedDriverTest {
  protected:
    // A number gate written with value.
    int32_t WriteNumber(const char* address, int32_t plc, uint16_t value, std::vector<Step> steps) {
        KorNumberValue record{0, value};
        GateParams gate = DriverHarness::Gate(address, plc, 1, 0, &record);
        return WriteWith(gate, std::move(steps));
    }

    // A text gate written with text.
    int32_t WriteText(const char* address, int32_t plc, const std::string& text,
                      std::vector<Step> steps, int32_t access = 1) {
        text_ = text;
        GateParams gate = DriverHarness::Gate(address, plc, access, 7, text_.data());
        return WriteWith(gate, std::move(steps));
    }

    static std::string Prepare(const std::string& address) {
        return "VERODI: Failed to prepare write request to PLC,GAS:" + address + ".";
    }

    std::string text_;
};

struct FrameCase {
    const char* address;
    int32_t plc;
    const char* text;  // nullptr: a number gate written with number
    uint16_t number;
    std::vector<Bytes> frames;
    uint8_t ackFrom;
};

TEST_F(ProtocolControlWrite, FramesOnTheWireAndAcknowledged) {
    const std::vector<FrameCase> cases = {
        {"KEY1", 1, nullptr, 53, {{0xFF, 0x07, 0x11, 0x06, 0x3E, 0x10, 0x35, 0x5F}}, 0x11},
        {"key1", 1, nullptr, 205, {{0xFF, 0x07, 0x11, 0x06, 0x3E, 0x10, 0xCD, 0xC7}}, 0x11},
        {"PTZ0", 0, nullptr, 128, {{0xFF, 0x07, 0x01, 0x16, 0x3E, 0x10, 0x80, 0x14}}, 0x01},
        {"PTZ0", 0, nullptr, 29, {{0xFF, 0x07, 0x01, 0x16, 0x3E, 0x10, 0x1D, 0x77}}, 0x01},
        {"PTZ0", 0, nullptr, 135, {{0xFF, 0x07, 0x01, 0x16, 0x3E, 0x10, 0x87, 0x0D}}, 0x01},
        // CAA: the acknowledgement comes from the multiplexer the frame went to.
        {"CAA", 0, nullptr, 2, {{0xFF, 0x06, 0x21, 0x4D, 0x3E, 0x10, 0x3E}}, 0x21},
        {"CAA", 0, nullptr, 0, {{0xFF, 0x06, 0x01, 0x4D, 0x3E, 0x10, 0x5E}}, 0x01},
        {"CAA", 0, nullptr, 4, {{0xFF, 0x06, 0x41, 0x4D, 0x3E, 0x10, 0x1E}}, 0x41},
        {"IHK2075",
         2,
         "(9,13)",
         0,
         {{0xFF, 0x09, 0x21, 0x17, 0x3E, 0x10, 0x4B, 0x09, 0x0D, 0x10}},
         0x21},
        {"IHK2075",
         2,
         "(9,13,14,32)",
         0,
         {{0xFF, 0x0B, 0x21, 0x17, 0x3E, 0x10, 0x4B, 0x09, 0x0D, 0x0E, 0x20, 0xE0}},
         0x21},
        {"ihk0118", 0, "( 9)", 0, {{0xFF, 0x08, 0x01, 0x17, 0x3E, 0x10, 0x76, 0x09, 0x13}}, 0x01},
        {"JOY3",
         3,
         "(10,-20,30)",
         0,
         {{0xFF, 0x09, 0x31, 0x18, 0x3E, 0x10, 0x0A, 0xEC, 0x1E, 0x4C}},
         0x31},
        {"JOY1",
         1,
         "(-1,0,0)",
         0,
         {{0xFF, 0x09, 0x11, 0x18, 0x3E, 0x10, 0xFF, 0x00, 0x00, 0x80}},
         0x11},
        {"JOY3",
         3,
         "(-100,0,100)",
         0,
         {{0xFF, 0x09, 0x31, 0x18, 0x3E, 0x10, 0x9C, 0x00, 0x64, 0x60}},
         0x31},
        {"TAD0",
         0,
         "(31,12,2000,23,59,59)",
         0,
         {{0xFF, 0x0E, 0x01, 0x07, 0x3E, 0x10, 0x00, 0x20, 0x12, 0x31, 0x01, 0x23, 0x59, 0x59,
           0x63}},
         0x01},
        {"TAD0",
         0,
         "(0A,12,2000,23,59,59)",
         0,
         {{0xFF, 0x0E, 0x01, 0x07, 0x3E, 0x10, 0x00, 0x20, 0x12, 0x0A, 0x01, 0x23, 0x59, 0x59,
           0x8A}},
         0x01},
        {"INHPAIR4",
         4,
         "(48,49,50,51,52,53)",
         0,
         {{0xFF, 0x09, 0x41, 0x17, 0x3E, 0x10, 0x32, 0x30, 0x31, 0xBE},
          {0xFF, 0x09, 0x41, 0x17, 0x3E, 0x10, 0x35, 0x33, 0x34, 0xB5}},
         0x41},
        {"PRESET2",
         2,
         "(9,13)",
         0,
         {{0xFF, 0x07, 0x21, 0x06, 0x3E, 0x10, 0x09, 0x7B},
          {0xFF, 0x07, 0x21, 0x06, 0x3E, 0x10, 0x0D, 0x77},
          {0xFF, 0x07, 0x21, 0x16, 0x3E, 0x10, 0x14, 0x60}},
         0x21},
    };
    for (const FrameCase& c : cases) {
        SCOPED_TRACE(std::string(c.address) + " " + (c.text ? c.text : std::to_string(c.number)));
        std::vector<Step> steps;
        for (const Bytes& frame : c.frames)
            steps.push_back({frame.size(), Acknowledgement(c.ackFrom)});
        const int32_t result = c.text ? WriteText(c.address, c.plc, c.text, steps)
                                      : WriteNumber(c.address, c.plc, c.number, steps);
        EXPECT_EQ(result, 0);
        EXPECT_EQ(peer.Requests(), c.frames);
        EXPECT_EQ(peer.Received().size(), [&] {
            std::size_t n = 0;
            for (const Bytes& f : c.frames) n += f.size();
            return n;
        }());
        EXPECT_EQ(zanpro::Log(), Entered(7));
        EXPECT_EQ(PauseCount(), 1u);  // the pause before every write
        EXPECT_EQ(PausedMs(), 50u);
        EXPECT_EQ(Elapsed(), 50u);  // every acknowledgement at once
    }
}

TEST_F(ProtocolControlWrite, UnpreparableWritesSendNothing) {
    struct Case {
        const char* address;
        const char* text;
        uint16_t number;
    };
    const std::vector<Case> cases = {
        {"KEY0", nullptr, 10},
        {"KEY0", nullptr, 0},
        {"KEY0", nullptr, 840},
        {"KEY0", nullptr, 65535},
        {"PTZ0", nullptr, 30},
        {"PTZ0", nullptr, 127},
        {"PTZ0", nullptr, 136},
        {"CAA", nullptr, 5},
        {"IHK2075", "(9,13,14,32,35)", 0},
        {"IHK2075", "(9,10)", 0},
        {"IHK2075", "()", 0},
        {"IHK2075", "9,13", 0},
        {"IHK2075", "(9,1234567890)", 0},  // a number over nine characters
        {"JOY3", "(101,0,0)", 0},
        {"JOY3", "(1,2)", 0},
        {"JOY3", ")(1,2,3", 0},
        {"TAD0", "(00,12,2000,23,59,59)", 0},
        {"TAD0", "(32,12,2000,23,59,59)", 0},
        {"TAD0", "(31,13,2000,23,59,59)", 0},
        {"TAD0", "(31,12,2000,24,59,59)", 0},
        {"TAD0", "(31,12,2000,23,60,59)", 0},
        {"TAD0", "(31,12,2000,23,59,60)", 0},
        {"TAD0", "(31,12,2000,23,59,5)", 0},
        {"TAD0", "(31,12,2000,23,59,599)", 0},
        {"TAD0", "(31,12,2000,23,59,XY)", 0},
        {"TAD0", "(31,12,2000,23,59,59)    this text is too long", 0},
        {"INHPAIR4", "(48,49,50,51,52,10)", 0},
        {"INHPAIR4", "(48,49,50,51,52)", 0},
        {"PRESET2", "(9)", 0},
        {"PRESET2", "(9,13", 0},
        {"PRESET2", ")9,13(", 0},
        {"KEY1234567", nullptr, 53},  // an address over nine characters
        {"XYZ1", nullptr, 53},
        {"KEY1", "(53)", 0},      // a text written to a number command
        {"IHK2075", nullptr, 9},  // a number written to a text command
        {"INHPAIR4", nullptr, 48},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.address) + " " + (c.text ? c.text : std::to_string(c.number)));
        const int32_t result =
            c.text ? WriteText(c.address, 0, c.text, {}) : WriteNumber(c.address, 0, c.number, {});
        EXPECT_EQ(result, 1);
        EXPECT_TRUE(peer.Received().empty());
        EXPECT_EQ(zanpro::Log(), Entered(7) + One(32, Prepare(c.address)));
        EXPECT_EQ(PauseCount(), 1u);
    }
}

TEST_F(ProtocolControlWrite, ReadOnlyGatesAreRefusedAfterThePause) {
    for (const int32_t access : {0, 2}) {
        KorNumberValue record{0, 53};
        GateParams gate = DriverHarness::Gate("VER1", 1, access, 0, &record);
        EXPECT_EQ(WriteWith(gate, {}), 1);
        EXPECT_TRUE(peer.Received().empty());
        EXPECT_EQ(
            zanpro::Log(),
            Entered(7) + One(8, "VERODI: Error try to operate SingleWrite() on read GAS: VER1"));
        EXPECT_EQ(PauseCount(), 1u);
    }
    // A read-and-write gate (TAD) is written.
    const Bytes frame = {0xFF, 0x0E, 0x21, 0x07, 0x3E, 0x10, 0x99, 0x19,
                         0x01, 0x01, 0x01, 0x00, 0x00, 0x00, 0xC7};
    EXPECT_EQ(
        WriteText("TAD2", 2, "(01,01,1999,00,00,00)", {{frame.size(), Acknowledgement(0x21)}}, 3),
        0);
    EXPECT_EQ(peer.Requests(), std::vector<Bytes>{frame});
}

TEST_F(ProtocolControlWrite, FailedAcknowledgementsAreRepeated) {
    const Bytes frame = {0xFF, 0x07, 0x11, 0x06, 0x3E, 0x10, 0x35, 0x5F};
    Bytes badChecksum = Acknowledgement(0x11);
    badChecksum.back() ^= 0x01;
    const Log failed = {{32, "VERODI: Failed to read reply from PLC"}};
    const Log wrong = {{32, "VERODI: wrong receive"}};
    // The 50 ms pause before the write, then per attempt as for reads: one
    // time-out for nothing, two for a part, a drain of what a refused frame left.
    struct Case {
        const char* name;
        Bytes reply;
        int32_t result;
        Log perAttempt;
        Log last;
        uint64_t elapsedMs;
    };
    const std::vector<Case> cases = {
        {"no answer",
         {},
         2,
         {{8, "VERODI: Failed to read first chars from PLC."}},
         failed,
         50 + 5 * (ReadWait(2) + 50)},
        {"truncated",
         {0xFF, 0x07, 0xF0, 0x04},
         2,
         {{8, "VERODI: Failed to read Response from PLC."}},
         failed,
         50 + 5 * (ReadWait(6) + 50)},
        {"other mux", Acknowledgement(0x21), 1, {}, wrong, 50 + 5 * 50},
        {"status 1", Acknowledgement(0x11, 0x01), 1, {}, wrong, 50 + 5 * 50},
        {"checksum", badChecksum, 1, {}, wrong, 50 + 5 * 50},
        {"no start",
         {0x00, 0x07, 0xF0, 0x04, 0x11, 0x10, 0x00, 0xE4},
         1,
         {},
         wrong,
         50 + 50 + 4 * (50 + 50)},
        {"length 255",
         {0xFF, 0xFF, 0xF0, 0x04, 0x11, 0x10, 0x00, 0xE4},
         1,
         {},
         wrong,
         50 + 50 + 4 * (50 + 50)},
        {"length 2",
         {0xFF, 0x02, 0xF0, 0x04, 0x11, 0x10, 0x00, 0xE4},
         1,
         {},
         wrong,
         50 + 50 + 4 * (50 + 50)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        peer.Line().DropInput();  // what the case before left, so that no flush drains it
        EXPECT_EQ(WriteNumber("KEY1", 1, 53, std::vector<Step>(5, Step{frame.size(), c.reply})),
                  c.result);
        EXPECT_EQ(peer.Requests(), std::vector<Bytes>(5, frame));
        EXPECT_EQ(zanpro::Log(), Entered(7) + Repeat(c.perAttempt, 5) + c.last);
        EXPECT_EQ(PauseCount(), 6u);  // before the write, then after every failed attempt
        EXPECT_EQ(Elapsed(), c.elapsedMs);
    }
    // A good acknowledgement, byte for byte, on the third attempt.
    const Bytes good = {0xFF, 0x07, 0xF0, 0x04, 0x11, 0x10, 0x00, 0xE4};
    EXPECT_EQ(Acknowledgement(0x11), good);
    EXPECT_EQ(WriteNumber("KEY1", 1, 53, {{8, {}}, {8, Acknowledgement(0x21)}, {8, good}}), 0);
    EXPECT_EQ(peer.Requests(), std::vector<Bytes>(3, frame));
    EXPECT_EQ(PauseCount(), 3u);

    // The fifth attempt alone decides the result and the closing line.
    const Log noAnswer = {{8, "VERODI: Failed to read first chars from PLC."}};
    std::vector<Step> steps(4, Step{8, Acknowledgement(0x21)});
    steps.push_back({8, {}});
    EXPECT_EQ(WriteNumber("KEY1", 1, 53, steps), 2);
    EXPECT_EQ(zanpro::Log(), Entered(7) + noAnswer + failed);
    steps.assign(4, Step{8, {}});
    steps.push_back({8, Acknowledgement(0x21)});
    EXPECT_EQ(WriteNumber("KEY1", 1, 53, steps), 1);
    EXPECT_EQ(zanpro::Log(), Entered(7) + Repeat(noAnswer, 4) + wrong);
    EXPECT_EQ(PauseCount(), 6u);
}

TEST_F(ProtocolControlWrite, CaaAcknowledgementFromAnotherMultiplexerIsWrong) {
    // CAA written 2 goes to 0x21; an answer from 0x01 (the gate's plcNum) is not its own.
    const Bytes frame = {0xFF, 0x06, 0x21, 0x4D, 0x3E, 0x10, 0x3E};
    EXPECT_EQ(WriteNumber("CAA", 0, 2, std::vector<Step>(5, Step{7, Acknowledgement(0x01)})), 1);
    EXPECT_EQ(peer.Requests(), std::vector<Bytes>(5, frame));
    EXPECT_EQ(zanpro::Log(), Entered(7) + One(32, "VERODI: wrong receive"));
}

TEST_F(ProtocolControlWrite, LaterFrameFailureKeepsEarlierFramesSent) {
    const Bytes first = {0xFF, 0x09, 0x41, 0x17, 0x3E, 0x10, 0x32, 0x30, 0x31, 0xBE};
    const Bytes second = {0xFF, 0x09, 0x41, 0x17, 0x3E, 0x10, 0x35, 0x33, 0x34, 0xB5};
    std::vector<Step> steps = {{first.size(), Acknowledgement(0x41)}};
    for (int i = 0; i < 5; ++i) steps.push_back({second.size(), {}});
    EXPECT_EQ(WriteText("INHPAIR4", 4, "(48,49,50,51,52,53)", steps), 2);
    std::vector<Bytes> expected = {first};
    for (int i = 0; i < 5; ++i) expected.push_back(second);
    EXPECT_EQ(peer.Requests(), expected);
    EXPECT_EQ(zanpro::Log(), Entered(7) +
                                 Repeat({{8, "VERODI: Failed to read first chars from PLC."}}, 5) +
                                 One(32, "VERODI: Failed to read reply from PLC"));
    // The first frame after the pause before every write, the second at once after
    // its acknowledgement, then again after each wait for the first two bytes of
    // the acknowledgement and the pause (50 ms).
    constexpr fake_port::Ms kAttempt = ReadWait(2) + 50;
    EXPECT_EQ(peer.WriteTimes(),
              (std::vector<fake_port::Ms>{50, 50, 50 + kAttempt, 50 + 2 * kAttempt,
                                          50 + 3 * kAttempt, 50 + 4 * kAttempt}));
    EXPECT_EQ(Elapsed(), 50 + 5 * kAttempt);

    // PRESET: the third frame answered by another multiplexer.
    const Bytes p3 = {0xFF, 0x07, 0x21, 0x16, 0x3E, 0x10, 0x14, 0x60};
    steps = {{8, Acknowledgement(0x21)}, {8, Acknowledgement(0x21)}};
    for (int i = 0; i < 5; ++i) steps.push_back({8, Acknowledgement(0x31)});
    EXPECT_EQ(WriteText("PRESET2", 2, "(9,13)", steps), 1);
    EXPECT_EQ(peer.Requests().size(), 7u);
    EXPECT_EQ(peer.Requests().back(), p3);
    EXPECT_EQ(zanpro::Log(), Entered(7) + One(32, "VERODI: wrong receive"));
}

TEST(ProtocolControlWriteNoPort, EverySendFailsWithoutPauses) {
    DriverHarness driver(nullptr);
    ASSERT_EQ(driver.Init("", 10, 0), 0);
    KorNumberValue record{0, 53};
    GateParams gate = DriverHarness::Gate("KEY1", 1, 1, 0, &record);
    const fake_port::Watch watch;
    EXPECT_EQ(driver.Write(gate), 2);
    const Log attempt = {{32, "VERODI: Fail to flush comm port."},
                         {32, "VERODI: Failed to write to PLC,GAS:KEY1."}};
    EXPECT_EQ(zanpro::Log(),
              Entered(7) + Repeat(attempt, 5) + One(32, "VERODI: Failed to read reply from PLC"));
    EXPECT_EQ(watch.PauseCount(), 1u);
    EXPECT_EQ(watch.Elapsed(), 50u);
}

}  // namespace
}  // namespace protocol_test
