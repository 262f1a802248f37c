// The simulator's frames, frame reader, clock and command-line pieces, without a line.
#include <gtest/gtest.h>

#include "muxsim/cli_options.h"
#include "muxsim/driver_end.h"
#include "muxsim/frame.h"
#include "muxsim/frame_reader.h"
#include "muxsim/mux_clock.h"

namespace muxsim {
namespace {

using muxsim_test::Bytes;

TEST(MuxsimFrame, RepliesHaveTheBytesOfTheLine) {
    const std::array<uint8_t, 8> clock{0x00, 0x20, 0x11, 0x06, 0x02, 0x08, 0x12, 0x33};
    const uint8_t version[] = {'V', '2', '.', '1'};
    struct Case {
        const char* name;
        Bytes built;
        Bytes expected;
    } cases[] = {
        {"ack from mux 1",
         BuildAcknowledgement(0x11, 0x00),
         {0xFF, 0x07, 0xF0, 0x04, 0x11, 0x10, 0x00, 0xE4}},
        {"ack status 1 from mux 0",
         BuildAcknowledgement(0x01, 0x01),
         {0xFF, 0x07, 0xF0, 0x04, 0x01, 0x10, 0x01, 0xF3}},
        {"short ALS reply",
         BuildStatusReply(kCmdAls, 0x01, {}),
         {0xFF, 0x06, 0xF0, 0x49, 0x01, 0x10, 0xB0}},
        {"TAD reply",
         BuildStatusReply(kCmdTad, 0x21, clock),
         {0xFF, 0x0E, 0xF0, 0x07, 0x21, 0x10, 0x00, 0x20, 0x11, 0x06, 0x02, 0x08, 0x12, 0x33,
          0x44}},
        {"VER reply",
         BuildStatusReply(kCmdVer, 0x11, version),
         {0xFF, 0x0A, 0xF0, 0x48, 0x11, 0x10, 'V', '2', '.', '1', 0xB6}},
        {"alarm report",
         BuildAlarmReport(0x11, clock, 0x20),
         {0xFF, 0x12, 0xF0, 0x49, 0x11, 0x10, 0x00, 0x20, 0x11, 0x06,
          0x02, 0x08, 0x12, 0x33, 0x00, 0x00, 0x00, 0x20, 0xEE, 0x00}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(muxsim_test::Hex(c.built), muxsim_test::Hex(c.expected)) << c.name;
}

TEST(MuxsimFrame, ChecksumLeavesOutEveryFF) {
    const Bytes joy{0xFF, 0x09, 0x11, 0x18, 0x3E, 0x10, 0xFF, 0x00, 0x00, 0x80};
    EXPECT_EQ(FrameChecksum(joy.data(), 9), 0x80);
    EXPECT_TRUE(ChecksumOk(joy));
    Bytes bad = joy;
    bad[9] = 0x7F;
    EXPECT_FALSE(ChecksumOk(bad));
    EXPECT_FALSE(ChecksumOk(Bytes{0xFF, 0x09, 0x11}));  // length past the end
}

// Frames taken from a stream fed in the given chunks (an empty chunk: the line went quiet).
std::vector<TakenFrame> TakeAll(const std::vector<Bytes>& chunks,
                                std::size_t* discarded = nullptr) {
    FrameReader reader;
    std::vector<TakenFrame> frames;
    for (const Bytes& chunk : chunks) {
        auto taken = chunk.empty() ? reader.Expire() : reader.Feed(chunk);
        frames.insert(frames.end(), taken.begin(), taken.end());
    }
    if (discarded) *discarded = reader.Discarded();
    return frames;
}

TEST(MuxsimFrameReader, FindsRequestsInAnyStream) {
    const Bytes ver{0xFF, 0x06, 0x11, 0x48, 0x3C, 0x10, 0x55};
    const Bytes als{0xFF, 0x07, 0x11, 0x49, 0x3C, 0x10, 0x19, 0x3A};
    Bytes badVer = ver;
    badVer[6] = 0x56;
    auto join = [](std::initializer_list<Bytes> parts) {
        Bytes all;
        for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
        return all;
    };
    struct Case {
        const char* name;
        std::vector<Bytes> chunks;
        std::vector<std::pair<Bytes, bool>> expected;
    } cases[] = {
        {"whole frame", {ver}, {{ver, true}}},
        {"byte by byte", {{0xFF}, {0x06}, {0x11, 0x48}, {0x3C}, {0x10}, {0x55}}, {{ver, true}}},
        {"two frames in one chunk", {join({ver, als})}, {{ver, true}, {als, true}}},
        {"noise before", {join({{0x00, 0x13, 0x37}, ver})}, {{ver, true}}},
        {"impossible lengths",
         {join({{0xFF, 0x00, 0xFF, 0x05, 0xFF, 0xFF, 0xFF, 0x32}, ver})},
         {{ver, true}}},
        {"bad checksum reported, next frame kept",
         {join({badVer, als})},
         {{badVer, false}, {als, true}}},
        {"frame behind a start byte with a long length",
         {join({{0xFF, 0x30, 0x01}, ver})},
         {{ver, true}}},
        {"unfinished frame expires", {{0xFF, 0x07, 0x11}, {}, ver}, {{ver, true}}},
        {"frame inside an unfinished one after quiet",
         {{0xFF, 0x0C, 0x11, 0x48}, ver, {}},
         {{ver, true}}},
    };
    for (const auto& c : cases) {
        const auto frames = TakeAll(c.chunks);
        ASSERT_EQ(frames.size(), c.expected.size()) << c.name;
        for (std::size_t i = 0; i < frames.size(); ++i) {
            EXPECT_EQ(muxsim_test::Hex(frames[i].bytes), muxsim_test::Hex(c.expected[i].first))
                << c.name;
            EXPECT_EQ(frames[i].checksumOk, c.expected[i].second) << c.name;
        }
    }
}

TEST(MuxsimFrameReader, NeverGrowsOnNoise) {
    FrameReader reader;
    uint32_t state = 12345;
    for (int i = 0; i < 20000; ++i) {
        state = state * 1103515245u + 12345u;
        const uint8_t byte = static_cast<uint8_t>(state >> 16);
        reader.Feed(std::span(&byte, 1));
        if (i % 997 == 0) reader.Expire();
    }
    // Whatever noise came, a good request still gets through after the line was quiet.
    reader.Expire();
    for (int i = 0; i < 60 && reader.Partial(); ++i) reader.Expire();
    const Bytes ver{0xFF, 0x06, 0x11, 0x48, 0x3C, 0x10, 0x55};
    const auto frames = reader.Feed(ver);
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.back().bytes, ver);
}

TEST(MuxsimClock, RunsFromWhatWasSetAndStaysWhenFrozen) {
    const ClockBytesArray set{0x99, 0x19, 0x12, 0x31, 0x01, 0x23, 0x59, 0x58};
    const auto t0 = MuxClock::Steady::now();
    MuxClock running;
    running.Set(set, t0);
    EXPECT_EQ(running.Read(t0), set);
    // Three seconds later the century has turned; 1 January 2000 was a Saturday (day 7).
    const ClockBytesArray later{0x00, 0x20, 0x01, 0x01, 0x07, 0x00, 0x00, 0x01};
    EXPECT_EQ(running.Read(t0 + std::chrono::seconds(3)), later);

    MuxClock frozen;
    frozen.SetMode(ClockMode::Frozen, t0);
    frozen.Set(set, t0);
    EXPECT_EQ(frozen.Read(t0 + std::chrono::hours(5)), set);

    // Bytes that are no date stay as set.
    const ClockBytesArray odd{0x00, 0x20, 0x12, 0x0A, 0x01, 0x23, 0x59, 0x59};
    running.Set(odd, t0);
    EXPECT_EQ(running.Read(t0 + std::chrono::seconds(10)), odd);
}

TEST(MuxsimClock, EncodesAndDecodesBcd) {
    const auto decoded = DecodeClock({0x00, 0x20, 0x11, 0x06, 0x01, 0x08, 0x12, 0x33});
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->tm_wday, 1);  // a Monday
    EXPECT_EQ(EncodeClock(*decoded),
              (ClockBytesArray{0x00, 0x20, 0x11, 0x06, 0x02, 0x08, 0x12, 0x33}));
    for (const ClockBytesArray& bad : {ClockBytesArray{0x00, 0x20, 0x13, 0x06, 0, 0, 0, 0},
                                       ClockBytesArray{0x00, 0x20, 0x02, 0x30, 0, 0, 0, 0},
                                       ClockBytesArray{0x00, 0x20, 0x11, 0x06, 0, 0x24, 0, 0},
                                       ClockBytesArray{0x0A, 0x20, 0x11, 0x06, 0, 0, 0, 0}})
        EXPECT_FALSE(DecodeClock(bad)) << muxsim_test::Hex(Bytes(bad.begin(), bad.end()));
}

TEST(MuxsimCommandLine, PiecesParseOrRefuse) {
    EXPECT_EQ(ParseMuxList("0,2,4"), (std::array<bool, 5>{true, false, true, false, true}));
    for (const char* bad : {"5", "-1", "0,", "a", "1;2"}) EXPECT_FALSE(ParseMuxList(bad)) << bad;

    EXPECT_EQ(ParseAlarm("23"), (std::pair{23, CameraState::Alarm}));
    EXPECT_EQ(ParseAlarm("100=Video Loss"), (std::pair{100, CameraState::VideoLoss}));
    EXPECT_EQ(ParseAlarm("7=unknown"), (std::pair{7, CameraState::Unknown}));
    EXPECT_EQ(ParseAlarm("7=0x2E"), (std::pair{7, CameraState::VideoLoss}));
    for (const char* bad : {"0", "101", "7=Fire", "x=Alarm"}) EXPECT_FALSE(ParseAlarm(bad)) << bad;

    const auto delay = ParseFaultSpec("delay:250@0.5");
    ASSERT_TRUE(delay);
    EXPECT_EQ(delay->fault.kind, FaultKind::Delay);
    EXPECT_EQ(delay->fault.ms, 250);
    EXPECT_DOUBLE_EQ(delay->probability, 0.5);
    const auto garbage = ParseFaultSpec("garbage:5");
    ASSERT_TRUE(garbage);
    EXPECT_EQ(garbage->fault.count, 5);
    EXPECT_DOUBLE_EQ(garbage->probability, 1.0);
    for (const char* bad : {"fire", "delay:x", "delay@2", "no-answer@", "delay:-3"})
        EXPECT_FALSE(ParseFaultSpec(bad)) << bad;

    EXPECT_EQ(ParseClockText("2000-11-06 08:12:33"),
              (std::array<uint8_t, 8>{0x00, 0x20, 0x11, 0x06, 0x02, 0x08, 0x12, 0x33}));
    for (const char* bad : {"2000-02-30 00:00:00", "2000-11-06", "2000-11-06 24:00:00"})
        EXPECT_FALSE(ParseClockText(bad)) << bad;
}

TEST(MuxsimTrace, DescribesFramesForAPerson) {
    struct Case {
        Bytes frame;
        const char* expected;
    } cases[] = {
        {{0xFF, 0x07, 0x11, 0x49, 0x3C, 0x10, 0x19, 0x3A},
         "mux 1 (0x11) ALS status request: camera 25, checksum ok: FF 07 11 49 3C 10 19 3A"},
        {{0xFF, 0x09, 0x31, 0x18, 0x3E, 0x10, 0x0A, 0xEC, 0x1E, 0x4C},
         "mux 3 (0x31) JOY control request: joystick 10 -20 30, checksum ok: "
         "FF 09 31 18 3E 10 0A EC 1E 4C"},
        {{0xFF, 0x06, 0x21, 0x4D, 0x3E, 0x10, 0x3F},
         "mux 2 (0x21) CAA control request: clear alarms, checksum BAD (expected 3E): "
         "FF 06 21 4D 3E 10 3F"},
        {{0xFF, 0x07, 0xF0, 0x04, 0x11, 0x10, 0x00, 0xE4},
         "mux 1 (0x11) acknowledgement, status 00 (done), checksum ok: FF 07 F0 04 11 10 00 E4"},
    };
    for (const auto& c : cases) EXPECT_EQ(DescribeFrame(c.frame), c.expected);
}

TEST(MuxsimTrace, DescribesAnyBytesWithoutReadingPastThem) {
    uint32_t state = 99;
    for (int round = 0; round < 5000; ++round) {
        state = state * 1103515245u + 12345u;
        Bytes frame((state >> 16) % 40);
        for (uint8_t& byte : frame) {
            state = state * 1103515245u + 12345u;
            byte = static_cast<uint8_t>(state >> 16);
        }
        if (frame.size() > 1) frame[0] = 0xFF;
        if (frame.size() > 2 && round % 2 == 0) frame[1] = static_cast<uint8_t>(frame.size() - 1);
        if (frame.size() > 3 && round % 3 == 0) frame[2] = 0xF0;
        EXPECT_FALSE(DescribeFrame(frame).empty());
    }
}

}  // namespace
}  // namespace muxsim
