// Reads and writes through KorMain on a real pseudo-terminal, a representative
// few of those the fake port runs on virtual time: a good read, a good
// multi-frame write, a time-out ladder, and a ladder of refused frames whose
// leftovers the next attempt's flush drains from the real line.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "driver_harness.h"
#include "scripted_driver_test.h"

namespace protocol_test {
namespace {

using zanpro::AddGate;
using zanpro::GateValue;

using ProtocolOnPty = ScriptedDriverTest;

TEST_F(ProtocolOnPty, AlarmStateListFillsSacGates) {
    std::vector<uint32_t> ids;
    for (int camera = 21; camera <= 40; ++camera)
        ids.push_back(AddGate(kInstance, "SAC1" + std::to_string(camera)));
    Bytes states(20, 0x00);
    states[0] = 0x20;   // camera 21
    states[19] = 0xFE;  // camera 40
    KorNumberValue value{0, 5};
    GateParams gate = DriverHarness::Gate("AAS1", 1, 2, 0, &value);
    const Bytes request = {0xFF, 0x06, 0x11, 0x50, 0x3C, 0x10, 0x4D};

    EXPECT_EQ(ReadWith(gate, {{7, StatusReply(0x50, 0x11, states)}}), 0);
    EXPECT_EQ(peer.Requests(), std::vector<Bytes>{request});
    for (std::size_t i = 0; i < ids.size(); ++i) EXPECT_EQ(GateValue(ids[i]), states[i]) << i;
    EXPECT_EQ(value.Number, 1);
    EXPECT_EQ(zanpro::Log(), Entered(5));
    EXPECT_EQ(PauseCount(), 0u);
}

TEST_F(ProtocolOnPty, PresetFramesAreEachAcknowledged) {
    const std::vector<Bytes> frames = {{0xFF, 0x07, 0x21, 0x06, 0x3E, 0x10, 0x09, 0x7B},
                                       {0xFF, 0x07, 0x21, 0x06, 0x3E, 0x10, 0x0D, 0x77},
                                       {0xFF, 0x07, 0x21, 0x16, 0x3E, 0x10, 0x14, 0x60}};
    std::string text = "(9,13)";
    GateParams gate = DriverHarness::Gate("PRESET2", 2, 1, 7, text.data());
    std::vector<Step> steps;
    for (const Bytes& frame : frames) steps.push_back({frame.size(), Acknowledgement(0x21)});
    EXPECT_EQ(WriteWith(gate, steps), 0);
    EXPECT_EQ(peer.Requests(), frames);
    EXPECT_EQ(zanpro::Log(), Entered(7));
    EXPECT_EQ(PauseCount(), 1u);
    EXPECT_EQ(PausedMs(), 50u);
}

TEST_F(ProtocolOnPty, FailedAttemptsAreRepeatedWithPauses) {
    std::array<char, 64> text{};
    GateParams gate = DriverHarness::Gate("VER1", 1, 2, 7, text.data());
    const Bytes request = {0xFF, 0x06, 0x11, 0x48, 0x3C, 0x10, 0x55};
    struct Case {
        const char* name;
        Bytes reply;
        int32_t result;
        Log perAttempt;
        Log last;
    };
    const std::vector<Case> cases = {
        {"no answer",
         {},
         2,
         {{8, "VERODI: Failed to read first chars from PLC."}},
         {{32, "VERODI: Failed to read reply from PLC,GAS:VER1."}}},
        // Refused after two bytes: the other four wait on the line until flushed.
        {"length 5", {0xFF, 0x05, 0xF0, 0x48, 0x11, 0x10}, 1, {}, {{32, "VERODI: wrong receive"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ReadWith(gate, std::vector<Step>(5, Step{request.size(), c.reply})), c.result);
        EXPECT_EQ(peer.Requests(), std::vector<Bytes>(5, request));
        EXPECT_EQ(zanpro::Log(), Entered(5) + Repeat(c.perAttempt, 5) + c.last);
        EXPECT_EQ(PauseCount(), 5u);
        EXPECT_EQ(PausedMs(), 250u);
    }
}

}  // namespace
}  // namespace protocol_test
