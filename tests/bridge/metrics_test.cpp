// The metrics as a scrape reads them: states as the faces show them now (stale data
// is failing, a camera of a multiplexer that is not ok is unknown), counts, the
// histogram's cumulative buckets, label values escaped, unknown figures left out.
#include <gtest/gtest.h>

#include <sstream>

#include "bridge/core/command_runner.h"
#include "bridge/http/metrics.h"

using namespace roderavo::tool;
using namespace roderavo::tool::bridge;
using std::chrono::milliseconds;

namespace {

MuxView Mux(int mux, MuxState state, std::optional<PollClock::time_point> lastGood) {
    MuxView view;
    view.mux = mux;
    view.state = state;
    view.lastGood = lastGood;
    for (auto& alarm : view.alarm) alarm = 0;
    for (auto& loss : view.videoLoss) loss = 0;
    return view;
}

TEST(BridgeMetrics, TheTextSaysWhatTheFacesShowNow) {
    const auto now = PollClock::now();
    MuxView ok = Mux(0, MuxState::Ok, now - milliseconds(2500));
    ok.alarm[0] = 0x20;
    ok.videoLoss[1] = 1;
    ok.alarm[2] = 0xFE;
    ok.line = {.goodReplies = 40, .timeouts = 3, .badChecksums = 1, .otherBad = 2};
    // Mux 3 answered, but its data is older than the picture's staleness: failing now.
    const Picture picture(
        {ok, Mux(1, MuxState::Failing, now - milliseconds(100)),
         Mux(2, MuxState::Demoted, std::nullopt), Mux(3, MuxState::Ok, now - milliseconds(10000))},
        milliseconds(5000));
    CountsSeen counts;
    counts.cycles.inBucket = {2, 0, 1, 0, 2, 0, 0, 0, 0, 0, 0, 1};
    counts.cycles.seconds = 9.5;
    counts.commands[2][3] = 2;  // http, busy
    counts.connections = {1, 3, 7};
    const ProcessFigures process{1e6, 1.5, 1700000000.25, std::nullopt};
    const std::string text =
        MetricsText(picture, now, "1.0 \"beta\"\\x\n2", counts, process) + "\n";

    for (const std::string line : {
             R"(roderavo_build_info{version="1.0 \"beta\"\\x\n2"} 1)",
             R"(roderavo_mux_up{mux="0"} 1)",
             R"(roderavo_mux_up{mux="3"} 0)",
             R"(roderavo_mux_state{mux="0",state="ok"} 1)",
             R"(roderavo_mux_state{mux="1",state="ok"} 0)",
             R"(roderavo_mux_state{mux="1",state="failing"} 1)",
             R"(roderavo_mux_state{mux="2",state="absent"} 1)",
             R"(roderavo_mux_state{mux="2",state="demoted"} 0)",
             R"(roderavo_mux_state{mux="3",state="failing"} 1)",
             R"(roderavo_mux_last_good_read_age_seconds{mux="0"} 2.5)",
             R"(roderavo_mux_last_good_read_age_seconds{mux="3"} 10)",
             // Mux 0: one camera each in alarm, video loss and unknown; the others'
             // 80 cameras are unknown now (failing, absent, stale, not polled).
             R"(roderavo_cameras{state="fine"} 17)",
             R"(roderavo_cameras{state="alarm"} 1)",
             R"(roderavo_cameras{state="video-loss"} 1)",
             R"(roderavo_cameras{state="unknown"} 81)",
             R"(roderavo_poll_cycle_seconds_bucket{le="0.05"} 2)",
             R"(roderavo_poll_cycle_seconds_bucket{le="0.25"} 3)",
             R"(roderavo_poll_cycle_seconds_bucket{le="60"} 5)",
             R"(roderavo_poll_cycle_seconds_bucket{le="+Inf"} 6)",
             "roderavo_poll_cycle_seconds_sum 9.5",
             "roderavo_poll_cycle_seconds_count 6",
             R"(roderavo_exchanges_total{mux="0",result="ok"} 40)",
             R"(roderavo_exchanges_total{mux="0",result="timeout"} 3)",
             R"(roderavo_exchanges_total{mux="0",result="bad_checksum"} 1)",
             R"(roderavo_exchanges_total{mux="0",result="other"} 2)",
             R"(roderavo_exchanges_total{mux="2",result="ok"} 0)",
             R"(roderavo_commands_total{face="http",result="busy"} 2)",
             R"(roderavo_commands_total{face="modbus",result="line-failed"} 0)",
             "roderavo_mqtt_connected 1",
             "roderavo_modbus_connections 3",
             "roderavo_http_connections 7",
             "process_resident_memory_bytes 1000000",
             "process_cpu_seconds_total 1.5",
             "process_start_time_seconds 1700000000.25",
         })
        EXPECT_NE(text.find("\n" + line + "\n"), std::string::npos) << line << "\n" << text;
    // Nothing of a multiplexer not polled, no age before a first good read, no figure
    // that could not be read.
    for (const std::string absent :
         {"mux=\"4\"", "roderavo_mux_last_good_read_age_seconds{mux=\"2\"}", "process_open_fds"})
        EXPECT_EQ(text.find(absent), std::string::npos) << absent;

    // The process's figures: a command's name may hold spaces and parentheses.
    const ProcessFigures read =
        FiguresOf("42 (a) b) S 1 2 3 4 5 6 7 8 9 10 150 50 0 0 20 0 1 0 500 123456 300 9\n",
                  "cpu 1 2 3\nbtime 1000\nprocesses 5\n", 100, 4096);
    EXPECT_EQ(read.cpuSeconds, 2.0);
    EXPECT_EQ(read.residentBytes, 300 * 4096.0);
    EXPECT_EQ(read.startTime, 1005.0);
    EXPECT_FALSE(FiguresOf("42 (a", "", 100, 4096).cpuSeconds);
}

// A cycle on a bucket's bound is in that bucket; a command is counted by its face and
// how it ended, also when it is refused before it runs.
TEST(BridgeMetrics, CyclesAndCommandsAreCounted) {
    Counters counters;
    for (const double seconds : {0.0, 0.05, 0.0501, 3.0, 61.0})
        counters.CycleTook(std::chrono::duration<double>(seconds));
    const CycleCounts cycles = counters.Seen().cycles;
    EXPECT_EQ(cycles.inBucket, (decltype(cycles.inBucket){2, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}));
    EXPECT_DOUBLE_EQ(cycles.seconds, 64.1001);

    const auto count = [](FaceId face, Outcome outcome) {
        return ProcessCounters().Seen().commands[static_cast<std::size_t>(face)]
                                                [static_cast<std::size_t>(outcome)];
    };
    const uint64_t busy = count(FaceId::kModbus, Outcome::kBusy);
    const uint64_t refused = count(FaceId::kHttp, Outcome::kRefused);
    Command command;
    command.face = "modbus";
    command.assignment = "KEY1=53";
    Refuse(command, "the queue is full", Outcome::kBusy);
    command = {};
    command.face = "http";
    command.mux = "1";
    command.word = "frobnicate";  // no such command: refused, whatever the caller says
    Refuse(command, "the queue is full", Outcome::kBusy);
    command.face = "nobody";
    Refuse(command, "the queue is full", Outcome::kBusy);
    EXPECT_EQ(count(FaceId::kModbus, Outcome::kBusy), busy + 1);
    EXPECT_EQ(count(FaceId::kHttp, Outcome::kRefused), refused + 1);
}

}  // namespace
