// The protocol tap's judgement of the frames it relays: retries, time-outs and bad
// replies, counted per multiplexer, without a line.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <muxsim/frame.h>

#include "line/line_monitor.h"

using namespace roderavo::tool;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

using Clock = LineMonitor::Clock;
using Bytes = std::vector<uint8_t>;

muxsim::TakenFrame Taken(Bytes bytes) {
    return {bytes, muxsim::ChecksumOk(bytes)};
}

// VER request to mux 1, and replies to it as the line may bring them.
const Bytes kVerRequest{0xFF, 0x06, 0x11, 0x48, 0x3C, 0x10, 0x55};
Bytes VerReply(uint8_t source = 0x11, uint8_t command = 0x48) {
    const uint8_t text[] = {'V', '1'};
    return muxsim::BuildStatusReply(command, source, text);
}

TEST(LineMonitor, CountsEachWayAnExchangeGoesWrongPerMultiplexer) {
    struct Case {
        const char* name;
        std::function<Bytes()> reply;  // empty: none comes
        std::string mark;
        LineCounts counts;
    };
    Bytes badSum = VerReply();
    badSum.back() ^= 0x01;
    const std::vector<Case> cases = {
        {"good", [] { return VerReply(); }, "", {.requests = 1, .goodReplies = 1}},
        {"bad checksum",
         [=] { return badSum; },
         "[bad checksum]",
         {.requests = 1, .badChecksums = 1}},
        {"wrong source",
         [] { return VerReply(0x21); },
         "[wrong source: mux 2 answered",
         {.requests = 1, .wrongSource = 1}},
        {"wrong command",
         [] { return VerReply(0x11, 0x49); },
         "[wrong command 0x49",
         {.requests = 1, .otherBad = 1}},
        {"silent",
         nullptr,
         "time-out: no reply from mux 1 within 200 ms",
         {.requests = 1, .timeouts = 1}},
    };
    for (const Case& c : cases) {
        LineMonitor monitor(200);
        const auto t0 = Clock::time_point{} + std::chrono::seconds(1);
        monitor.Request(Taken(kVerRequest), t0);
        std::vector<std::string> lines =
            c.reply ? monitor.Reply(Taken(c.reply()), t0 + std::chrono::milliseconds(20))
                    : monitor.Tick(t0 + std::chrono::milliseconds(300));
        // No second time-out for the same request.
        EXPECT_TRUE(monitor.Tick(t0 + std::chrono::seconds(5)).empty()) << c.name;
        ASSERT_EQ(lines.size(), 1u) << c.name;
        if (!c.mark.empty()) {
            EXPECT_THAT(lines[0], HasSubstr(c.mark)) << c.name;
        }
        const LineCounts got = monitor.Counts(1);
        EXPECT_EQ(got.requests, c.counts.requests) << c.name;
        EXPECT_EQ(got.goodReplies, c.counts.goodReplies) << c.name;
        EXPECT_EQ(got.badChecksums, c.counts.badChecksums) << c.name;
        EXPECT_EQ(got.wrongSource, c.counts.wrongSource) << c.name;
        EXPECT_EQ(got.otherBad, c.counts.otherBad) << c.name;
        EXPECT_EQ(got.timeouts, c.counts.timeouts) << c.name;
        EXPECT_EQ(monitor.Counts(2).requests, 0u) << c.name;
    }
}

TEST(LineMonitor, ARepeatedRequestAfterAFailureIsARetryAfterASuccessItIsNot) {
    LineMonitor monitor(100);
    auto t = Clock::time_point{};
    monitor.Request(Taken(kVerRequest), t);
    EXPECT_EQ(monitor.Deadline(), t + std::chrono::milliseconds(150));
    t += std::chrono::milliseconds(160);
    EXPECT_EQ(monitor.Tick(t).size(), 1u);  // time-out
    auto lines = monitor.Request(Taken(kVerRequest), t);
    EXPECT_THAT(lines.back(), HasSubstr("[retry: attempt 2 of 5]"));
    monitor.Reply(Taken(VerReply()), t);
    lines = monitor.Request(Taken(kVerRequest), t + std::chrono::seconds(1));
    EXPECT_THAT(lines.back(), Not(HasSubstr("retry")));
    // The driver sending again before the tap's clock ran out is a time-out too.
    lines = monitor.Request(Taken(kVerRequest), t + std::chrono::seconds(2));
    EXPECT_THAT(lines.front(), HasSubstr("time-out"));
    EXPECT_THAT(lines.back(), HasSubstr("[retry: attempt 2 of 5]"));
    EXPECT_EQ(monitor.Counts(1).requests, 4u);
    EXPECT_EQ(monitor.Counts(1).retries, 2u);
    EXPECT_EQ(monitor.Counts(1).timeouts, 2u);
    EXPECT_DOUBLE_EQ(LineLossPercent(monitor.Counts(1)), 75.0);
}

TEST(LineMonitor, ARefusedAcknowledgementIsTheMultiplexerRefusing) {
    LineMonitor monitor(100);
    const Bytes key{0xFF, 0x07, 0x11, 0x06, 0x3E, 0x10, 0x35, 0x5F};
    monitor.Request(Taken(key), {});
    const auto lines = monitor.Reply(Taken(muxsim::BuildAcknowledgement(0x11, 0x01)), {});
    EXPECT_THAT(lines[0], HasSubstr("[the multiplexer refused the command]"));
    EXPECT_EQ(monitor.Counts(1).refused, 1u);
}

TEST(LineMonitor, TheAlarmReportsExtraByteIsNoNoiseOtherBytesAre) {
    LineMonitor monitor(100);
    monitor.Request(Taken({0xFF, 0x07, 0x11, 0x49, 0x3C, 0x10, 0x19, 0x3A}), {});
    Bytes report = muxsim::BuildAlarmReport(0x11, {}, 0x20);
    report.pop_back();  // the reader hands over the frame; the extra byte is left
    const auto lines = monitor.Reply(Taken(report), {});
    EXPECT_THAT(lines[0], HasSubstr("ALS status reply: alarm report Alarm"));
    EXPECT_TRUE(monitor.Noise(1, true).empty());
    EXPECT_THAT(monitor.Noise(3, true)[0], HasSubstr("<- noise: 3 bytes outside any frame"));
    EXPECT_EQ(monitor.Counts(1).otherBad, 1u);
}

TEST(FrameDecoder, TellsDirectionMultiplexerAndChecksum) {
    struct Case {
        Bytes frame;
        bool framed, reply, control;
        int mux;
        bool checksumOk;
    };
    const std::vector<Case> cases = {
        {kVerRequest, true, false, false, 1, true},
        {{0xFF, 0x07, 0x41, 0x06, 0x3E, 0x10, 0x35, 0x2F}, true, false, true, 4, true},
        {VerReply(0x21), true, true, false, 2, true},
        {{0xFF, 0x06, 0x51, 0x48, 0x3C, 0x10, 0x00}, true, false, false, -1, false},
        {{0xFF, 0x09, 0x11}, false, false, false, -1, false},
    };
    for (const Case& c : cases) {
        const muxsim::FrameFacts facts = muxsim::DecodeFrame(c.frame);
        EXPECT_EQ(facts.framed, c.framed) << muxsim::DescribeFrame(c.frame);
        EXPECT_EQ(facts.reply, c.reply) << muxsim::DescribeFrame(c.frame);
        EXPECT_EQ(facts.control, c.control) << muxsim::DescribeFrame(c.frame);
        EXPECT_EQ(facts.mux, c.mux) << muxsim::DescribeFrame(c.frame);
        EXPECT_EQ(facts.checksumOk, c.checksumOk) << muxsim::DescribeFrame(c.frame);
    }
}

}  // namespace
