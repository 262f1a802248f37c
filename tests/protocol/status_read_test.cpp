// Status reads through KorMain on the fake port with a scripted multiplexer, on
// virtual time: the request bytes, the gates the reply fills, the failure table
// with the time each ladder of attempts takes (read time-out 100 ms).
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "driver_harness.h"
#include "scripted_driver_test.h"

namespace protocol_test {
namespace {

using zanpro::AddGate;
using zanpro::GateStores;
using zanpro::GateText;
using zanpro::GateValue;

const Bytes kClock = {0x00, 0x20, 0x11, 0x06, 0x02, 0x08, 0x12, 0x33};

// The 20-byte alarm report: length byte 18, one byte more than announced.
Bytes AlarmReport(uint8_t source, uint8_t state, uint8_t extra = 0x5A) {
    Bytes frame = {0xFF, 0x12, 0xF0, 0x49, source, 0x10};
    for (const uint8_t byte : kClock) frame.push_back(byte);
    for (const uint8_t byte : {uint8_t{0}, uint8_t{0}, uint8_t{0}, state}) frame.push_back(byte);
    frame.push_back(Checksum(frame));
    frame.push_back(extra);
    return frame;
}

using ProtocolStatusRead = FakeScriptedDriverTest;

TEST_F(ProtocolStatusRead, TextGatesReceiveVersionAndClock) {
    struct Case {
        const char* address;
        int32_t plc;
        int32_t access;
        Bytes request;
        Bytes reply;
        std::string text;
    };
    const std::string longVersion = "AMUX 20CD V2.10 build 2026-12-07 long";
    const Bytes longPayload(longVersion.begin(), longVersion.end());
    const std::vector<Case> cases = {
        {"VER1",
         1,
         2,
         {0xFF, 0x06, 0x11, 0x48, 0x3C, 0x10, 0x55},
         StatusReply(0x48, 0x11, {'V', '2', '.', '1'}),
         "V2.1"},
        {"ver0",
         0,
         2,
         {0xFF, 0x06, 0x01, 0x48, 0x3C, 0x10, 0x65},
         StatusReply(0x48, 0x01, {'A', 'B', 0x00, 'C'}),
         "AB"},
        {"VER3",
         3,
         2,
         {0xFF, 0x06, 0x31, 0x48, 0x3C, 0x10, 0x35},
         StatusReply(0x48, 0x31, longPayload),
         longVersion.substr(0, 29)},
        {"VER4", 4, 2, {0xFF, 0x06, 0x41, 0x48, 0x3C, 0x10, 0x25}, StatusReply(0x48, 0x41, {}), ""},
        {"TAD2",
         2,
         3,
         {0xFF, 0x06, 0x21, 0x07, 0x3C, 0x10, 0x86},
         StatusReply(0x07, 0x21, kClock),
         "06.11.2000 08:12:33 hrs"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        std::array<char, 64> text{};
        text.fill('#');
        GateParams gate = DriverHarness::Gate(c.address, c.plc, c.access, 7, text.data());
        EXPECT_EQ(ReadWith(gate, {{c.request.size(), c.reply}}), 0);
        EXPECT_EQ(peer.Requests(), std::vector<Bytes>{c.request});
        EXPECT_EQ(std::string(text.data()), c.text);
        EXPECT_EQ(zanpro::Log(), Entered(5));
        EXPECT_EQ(PauseCount(), 0u);
    }
}

TEST_F(ProtocolStatusRead, AlarmReportFillsTasGateAndAlarmGate) {
    const uint32_t tas = AddGate(kInstance, "TAS005");
    KorNumberValue value{0x1234, 0x4321};
    GateParams gate = DriverHarness::Gate("ALS005", 0, 2, 0, &value);
    const Bytes request = {0xFF, 0x07, 0x01, 0x49, 0x3C, 0x10, 0x05, 0x5E};

    EXPECT_EQ(ReadWith(gate, {{8, AlarmReport(0x01, 0x20)}}), 0);
    EXPECT_EQ(peer.Requests(), std::vector<Bytes>{request});
    EXPECT_EQ(GateText(tas), "06.11.2000 08:12:33 hrs Alarm");
    EXPECT_EQ(value.Number, 32);
    EXPECT_EQ(value.Head, 0x1234);

    // A short reply: no report, the gate gets 0, TAS005 is left alone.
    EXPECT_EQ(ReadWith(gate, {{8, StatusReply(0x49, 0x01, {})}}), 0);
    EXPECT_EQ(value.Number, 0);
    EXPECT_EQ(GateStores(tas), 1u);

    // Video loss gives the longest report text.
    EXPECT_EQ(ReadWith(gate, {{8, AlarmReport(0x01, 0x2E)}}), 0);
    EXPECT_EQ(GateText(tas), "06.11.2000 08:12:33 hrs Video Loss");
    EXPECT_EQ(GateText(tas)->size(), 34u);
    EXPECT_EQ(value.Number, 0x2E);
}

TEST_F(ProtocolStatusRead, AlarmReportStateRefusedOnlyWhileTasGateExists) {
    KorNumberValue value{0, 7};
    GateParams gate = DriverHarness::Gate("ALS125", 1, 2, 0, &value);
    const Bytes request = {0xFF, 0x07, 0x11, 0x49, 0x3C, 0x10, 0x19, 0x3A};
    for (const int state : {0xFF, 0x01}) {
        EXPECT_EQ(ReadWith(gate, {{8, AlarmReport(0x11, static_cast<uint8_t>(state))}}), 0)
            << int(state);
        EXPECT_EQ(peer.Requests(), std::vector<Bytes>{request});
        EXPECT_EQ(value.Number, state);
    }
    const uint32_t tas = AddGate(kInstance, "tas125");
    value.Number = 7;
    for (const int state : {0xFF, 0x01}) {
        EXPECT_EQ(ReadWith(gate, {{8, AlarmReport(0x11, static_cast<uint8_t>(state))}}), 1)
            << int(state);
        EXPECT_EQ(value.Number, 7);
        EXPECT_EQ(GateStores(tas), 0u);
        EXPECT_EQ(zanpro::Log(), Entered(5));
    }
}

TEST_F(ProtocolStatusRead, CameraHundredIsReadAndListed) {
    const uint32_t tas = AddGate(kInstance, "TAS4100");
    KorNumberValue value{};
    GateParams als = DriverHarness::Gate("ALS4100", 4, 2, 0, &value);
    const Bytes request = {0xFF, 0x07, 0x41, 0x49, 0x3C, 0x10, 0x64, 0xBF};
    EXPECT_EQ(ReadWith(als, {{8, AlarmReport(0x41, 0xFE)}}), 0);
    EXPECT_EQ(peer.Requests(), std::vector<Bytes>{request});
    EXPECT_EQ(GateText(tas), "06.11.2000 08:12:33 hrs Unknown");
    EXPECT_EQ(value.Number, 0xFE);

    for (const char* prefix : {"SAC", "SVC"}) {
        SCOPED_TRACE(prefix);
        std::vector<uint32_t> ids;
        for (int camera = 81; camera <= 100; ++camera)
            ids.push_back(AddGate(kInstance, prefix + std::to_string(4) +
                                                 (camera == 100 ? "100" : std::to_string(camera))));
        Bytes states(20, 0x00);
        states[19] = 0x01;  // camera 100 (video loss / listed as 1 below)
        const bool alarms = std::string(prefix) == "SAC";
        if (alarms) states[19] = 0x20;
        KorNumberValue list{0, 9};
        GateParams gate = DriverHarness::Gate(alarms ? "AAS4" : "VLS4", 4, 2, 0, &list);
        EXPECT_EQ(ReadWith(gate, {{7, StatusReply(alarms ? 0x50 : 0x51, 0x41, states)}}), 0);
        EXPECT_EQ(list.Number, 1);
        EXPECT_EQ(GateValue(ids[19]), alarms ? 32.0 : 1.0);
        EXPECT_EQ(zanpro::Log(), Entered(5));
    }
}

TEST_F(ProtocolStatusRead, AlarmStateListFillsSacGates) {
    std::vector<uint32_t> ids;
    for (int camera = 21; camera <= 40; ++camera)
        ids.push_back(AddGate(kInstance, "SAC1" + std::to_string(camera)));
    Bytes states(20, 0x00);
    states[0] = 0x20;   // camera 21
    states[3] = 0x2E;   // camera 24
    states[19] = 0xFE;  // camera 40
    KorNumberValue value{0, 5};
    GateParams gate = DriverHarness::Gate("AAS1", 1, 2, 0, &value);
    const Bytes request = {0xFF, 0x06, 0x11, 0x50, 0x3C, 0x10, 0x4D};

    EXPECT_EQ(ReadWith(gate, {{7, StatusReply(0x50, 0x11, states)}}), 0);
    EXPECT_EQ(peer.Requests(), std::vector<Bytes>{request});
    for (std::size_t i = 0; i < ids.size(); ++i) EXPECT_EQ(GateValue(ids[i]), states[i]) << i;
    EXPECT_EQ(value.Number, 1);

    // Camera 23's gate missing: the others still take their own bytes.
    ASSERT_TRUE(zanpro::RemoveGate(ids[2]));
    states[3] = 0x00;
    states[19] = 0x20;
    value.Number = 5;
    EXPECT_EQ(ReadWith(gate, {{7, StatusReply(0x50, 0x11, states)}}), 0);
    EXPECT_EQ(GateValue(ids[3]), 0.0);
    EXPECT_EQ(GateValue(ids[19]), 32.0);
    EXPECT_EQ(value.Number, 5);
    EXPECT_EQ(zanpro::Log(),
              Entered(5) + One(32,
                               "VERODI: SingleWrite(), can't supply full report for cameras, "
                               "plc 1 (not enough TAGS), plcNum"));
}

TEST_F(ProtocolStatusRead, ListsPadSmallCameraNumbersAndStopAtRefusedBytes) {
    const uint32_t sac7 = AddGate(kInstance, "SAC007");
    KorNumberValue value{0, 5};
    GateParams aas = DriverHarness::Gate("AAS0", 0, 2, 0, &value);
    Bytes states(20, 0x00);
    states[6] = 0x20;
    EXPECT_EQ(ReadWith(aas, {{7, StatusReply(0x50, 0x01, states)}}), 0);
    EXPECT_EQ(GateValue(sac7), 32.0);

    // An unlisted alarm state byte ends the walk with 1.
    states[6] = 0xFF;
    EXPECT_EQ(ReadWith(aas, {{7, StatusReply(0x50, 0x01, states)}}), 1);
    EXPECT_EQ(GateStores(sac7), 1u);

    std::vector<uint32_t> svc;
    for (int camera = 61; camera <= 80; ++camera)
        svc.push_back(AddGate(kInstance, "SVC3" + std::to_string(camera)));
    Bytes loss(20, 0x01);
    loss[4] = 0x02;  // camera 65
    GateParams vls = DriverHarness::Gate("VLS3", 3, 2, 0, &value);
    value.Number = 5;
    EXPECT_EQ(ReadWith(vls, {{7, StatusReply(0x51, 0x31, loss)}}), 1);
    EXPECT_EQ(peer.Requests(), (std::vector<Bytes>{{0xFF, 0x06, 0x31, 0x51, 0x3C, 0x10, 0x2C}}));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(GateValue(svc[i]), 1.0) << i;
    EXPECT_EQ(GateStores(svc[4]), 0u);
    EXPECT_EQ(value.Number, 5);
    EXPECT_EQ(zanpro::Log(), Entered(5));
}

TEST_F(ProtocolStatusRead, GatesThatCannotBeReadSendNothing) {
    KorNumberValue value{};
    struct Case {
        const char* address;
        int32_t access;
        int32_t kind;
    };
    for (const Case c : {Case{"KEY1", 1, 0}, Case{"SAC121", 0, 0}, Case{"KEY1", 2, 0}}) {
        SCOPED_TRACE(c.address);
        GateParams gate = DriverHarness::Gate(c.address, 1, c.access, c.kind, &value);
        EXPECT_EQ(ReadWith(gate, {}), 1);
        EXPECT_TRUE(peer.Received().empty());
        EXPECT_EQ(zanpro::Log(),
                  Entered(5) + One(8, std::string("VERODI: Error try to operate SingleRead() on "
                                                  "write GAS : ") +
                                          c.address));
    }
    // A value kind that is neither number nor text: read, but nothing stored.
    GateParams odd = DriverHarness::Gate("VER1", 1, 2, 3, &value);
    EXPECT_EQ(ReadWith(odd, {{7, StatusReply(0x48, 0x11, {'x'})}}), 1);
}

TEST_F(ProtocolStatusRead, FailedAttemptsAreRepeatedWithPauses) {
    std::array<char, 64> text{};
    GateParams gate = DriverHarness::Gate("VER1", 1, 2, 7, text.data());
    const Bytes request = {0xFF, 0x06, 0x11, 0x48, 0x3C, 0x10, 0x55};
    const Log failed = {{32, "VERODI: Failed to read reply from PLC,GAS:VER1."}};
    const Log wrong = {{32, "VERODI: wrong receive"}};
    Bytes badChecksum = StatusReply(0x48, 0x11, {'A'});
    badChecksum.back() ^= 0x01;
    Bytes truncated = StatusReply(0x48, 0x11, {'A', 'B'});
    truncated.pop_back();

    // Every attempt ends with a 50 ms pause. A read waits at most the read
    // time-out and twice the wire time of what it asks for (ReadWait); one that
    // gets part of it is not given a second wait for the rest. A frame refused after its first two
    // bytes leaves the rest waiting, which the next attempt's flush drains with a 50 ms read.
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
         5 * (ReadWait(2) + 50)},
        {"one byte",
         {0xFF},
         2,
         {{8, "VERODI: Failed to read first chars from PLC."}},
         failed,
         5 * (ReadWait(2) + 50)},
        {"truncated",
         truncated,
         2,
         {{8, "VERODI: Failed to read Response from PLC."}},
         failed,
         5 * (ReadWait(7) + 50)},
        {"checksum", badChecksum, 1, {}, wrong, 5 * 50},
        {"other mux", StatusReply(0x48, 0x21, {'A'}), 1, {}, wrong, 5 * 50},
        {"other command", StatusReply(0x49, 0x11, {'A'}), 1, {}, wrong, 5 * 50},
        {"not to host", {0xFF, 0x06, 0xF1, 0x48, 0x11, 0x10, 0xA6}, 1, {}, wrong, 5 * 50},
        {"no start byte",
         {0xFE, 0x06, 0xF0, 0x48, 0x11, 0x10, 0xA7},
         1,
         {},
         wrong,
         50 + 4 * (50 + 50)},
        {"length 5", {0xFF, 0x05, 0xF0, 0x48, 0x11, 0x10}, 1, {}, wrong, 50 + 4 * (50 + 50)},
        {"length 50", {0xFF, 0x32, 0xF0, 0x48, 0x11, 0x10}, 1, {}, wrong, 50 + 4 * (50 + 50)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        peer.Line().DropInput();  // what the case before left, so that no flush drains it
        std::vector<Step> steps(5, Step{request.size(), c.reply});
        EXPECT_EQ(ReadWith(gate, steps), c.result);
        EXPECT_EQ(peer.Requests(), std::vector<Bytes>(5, request));
        EXPECT_EQ(zanpro::Log(), Entered(5) + Repeat(c.perAttempt, 5) + c.last);
        EXPECT_EQ(PauseCount(), 5u);
        EXPECT_EQ(PausedMs(), 250u);
        EXPECT_EQ(Elapsed(), c.elapsedMs);
    }
}

TEST_F(ProtocolStatusRead, TheLastAttemptDecidesTheMessage) {
    std::array<char, 64> text{};
    GateParams gate = DriverHarness::Gate("VER1", 1, 2, 7, text.data());
    Bytes badChecksum = StatusReply(0x48, 0x11, {'A'});
    badChecksum.back() ^= 0x01;
    const LogLine noFirst = {8, "VERODI: Failed to read first chars from PLC."};
    struct Case {
        const char* name;
        Bytes firstFour;
        Bytes last;
        int32_t result;
        Log log;
        uint64_t elapsedMs;
    };
    const std::vector<Case> cases = {
        {"silent, then malformed",
         {},
         badChecksum,
         1,
         Log(4, noFirst) + One(32, "VERODI: wrong receive"),
         4 * (ReadWait(2) + 50) + 50},
        {"malformed, then silent",
         badChecksum,
         {},
         2,
         Log{noFirst} + One(32, "VERODI: Failed to read reply from PLC,GAS:VER1."),
         4 * 50 + ReadWait(2) + 50},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Step> steps(4, Step{7, c.firstFour});
        steps.push_back({7, c.last});
        EXPECT_EQ(ReadWith(gate, steps), c.result);
        EXPECT_EQ(zanpro::Log(), Entered(5) + c.log);
        EXPECT_EQ(PauseCount(), 5u);
        EXPECT_EQ(Elapsed(), c.elapsedMs);
    }
}

TEST_F(ProtocolStatusRead, GoodAttemptAfterFailuresIsDecoded) {
    std::array<char, 64> text{};
    GateParams gate = DriverHarness::Gate("VER2", 2, 2, 7, text.data());
    const Bytes request = {0xFF, 0x06, 0x21, 0x48, 0x3C, 0x10, 0x45};
    EXPECT_EQ(ReadWith(gate, {{7, {}},
                              {7, StatusReply(0x48, 0x01, {'X'})},
                              {7, StatusReply(0x48, 0x21, {'O', 'K'})}}),
              0);
    EXPECT_EQ(peer.Requests(), std::vector<Bytes>(3, request));
    EXPECT_STREQ(text.data(), "OK");
    EXPECT_EQ(PauseCount(), 2u);
    EXPECT_EQ(Elapsed(), (ReadWait(2) + 50) + 50);
    EXPECT_EQ(zanpro::Log(), Entered(5) + One(8, "VERODI: Failed to read first chars from PLC."));
}

TEST_F(ProtocolStatusRead, AnAnswerCountsOnlyWithinTheReadTimeout) {
    std::array<char, 64> text{};
    GateParams gate = DriverHarness::Gate("VER1", 1, 2, 7, text.data());
    const Bytes late = StatusReply(0x48, 0x11, {'L', 'A', 'T', 'E'});
    const Bytes next = StatusReply(0x48, 0x11, {'O', 'K'});
    const LogLine noFirst = {8, "VERODI: Failed to read first chars from PLC."};
    struct Case {
        uint32_t delayMs;
        const char* text;
        std::size_t pauses;
        uint64_t elapsedMs;
        Log log;
    };
    // An answer 1 ms after the first two bytes' wait (the 100 ms time-out and
    // their wire time twice) fails the attempt and is still waiting after the
    // pause: the next attempt's flush drains it (50 ms) before its own request, so
    // the next answer is the one decoded.
    const std::vector<Case> cases = {
        {0, "LATE", 0, 0, Entered(5)},
        {99, "LATE", 0, 99, Entered(5)},
        {ReadWait(2), "LATE", 0, ReadWait(2), Entered(5)},
        {ReadWait(2) + 1, "OK", 1, ReadWait(2) + 50 + 50, Entered(5) + Log{noFirst}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.delayMs);
        std::vector<Step> steps = {{7, late, c.delayMs}};
        if (c.pauses != 0) steps.push_back({7, next});
        EXPECT_EQ(ReadWith(gate, steps), 0);
        EXPECT_STREQ(text.data(), c.text);
        EXPECT_EQ(PauseCount(), c.pauses);
        EXPECT_EQ(Elapsed(), c.elapsedMs);
        EXPECT_EQ(zanpro::Log(), c.log);
    }
}

TEST_F(ProtocolStatusRead, MissingReportByteIsALineFailure) {
    KorNumberValue value{};
    GateParams gate = DriverHarness::Gate("ALS005", 0, 2, 0, &value);
    Bytes report = AlarmReport(0x01, 0x20);
    report.pop_back();
    EXPECT_EQ(ReadWith(gate, std::vector<Step>(5, Step{8, report})), 2);
    EXPECT_EQ(zanpro::Log(), Entered(5) + Repeat({{8, "VERODI: Failed to read crc from PLC."}}, 5) +
                                 One(32, "VERODI: Failed to read reply from PLC,GAS:ALS005."));
    EXPECT_EQ(PauseCount(), 5u);
    EXPECT_EQ(Elapsed(), 5u * (ReadWait(1) + 50));  // the last byte waited for in vain
}

// What the host finds as the system's error after the line failed: the error of
// the last attempt's failing port call; none when the multiplexer only kept quiet.
TEST_F(ProtocolStatusRead, TheLastAttemptsSystemErrorReachesTheHost) {
    std::array<char, 64> text{};
    GateParams gate = DriverHarness::Gate("VER1", 1, 2, 7, text.data());
    using fake_port::Call;
    struct Case {
        const char* name;
        Call failing;  // five calls of this kind fail, one in each attempt
        std::size_t requests;
        int32_t error;
    };
    const Case cases[] = {
        {"the reads fail", Call::Read, 5, fake_port::SystemErrorOf(Call::Read)},
        {"the writes fail", Call::Write, 0, fake_port::SystemErrorOf(Call::Write)},
        {"no answer", Call::GetState, 5, 0},  // nothing of the exchange fails
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        peer.Line().Fail(c.failing, 5);
        EXPECT_EQ(ReadWith(gate, std::vector<Step>(c.requests, Step{7, {}})), 2);
        EXPECT_EQ(fake_port::LastError(), c.error);
    }
}

TEST(ProtocolStatusReadNoPort, EveryAttemptFailsAtTheSendWithoutPauses) {
    DriverHarness driver(nullptr);
    ASSERT_EQ(driver.Init("", 10, 0), 0);
    std::array<char, 64> text{};
    GateParams gate = DriverHarness::Gate("VER1", 1, 2, 7, text.data());
    const fake_port::Watch watch;
    EXPECT_EQ(driver.Read(gate), 2);
    EXPECT_EQ(zanpro::Log(), Entered(5) + Repeat({{32, "VERODI: Fail to flush comm port."}}, 5) +
                                 One(32, "VERODI: Failed to read reply from PLC,GAS:VER1."));
    EXPECT_EQ(watch.PauseCount(), 0u);
    EXPECT_EQ(watch.Elapsed(), 0u);
}

}  // namespace
}  // namespace protocol_test
