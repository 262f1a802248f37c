// The protocol tap end to end: --trace shows every frame both ways, decoded and
// time-stamped, with retries and time-outs; poll counts what the line did per
// multiplexer; --timeout is the driver's read time-out, apart from the cadence.
#include <signal.h>

#include <chrono>

#include "support/other_program.h"
#include "tool_fixture.h"

using ::testing::ContainsRegex;
using ::testing::HasSubstr;

namespace {

TEST_F(ToolOnSimulator, TraceShowsEveryFrameWithRetriesAndTimeOuts) {
    sim.QueueFault({muxsim::FaultKind::BadChecksum, 0, 0}, 1);
    sim.QueueFault({muxsim::FaultKind::NoAnswer, 0, 0}, 1);
    const ToolRun run = Run("read", {"--trace", "--timeout", "100ms", "VER1"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "VER1 = TEST V1\n");
    const std::string stamp = "[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3} ";
    const std::string request =
        "-> mux 1 \\(0x11\\) VER status request, checksum ok: FF 06 11 48 3C 10 55";
    EXPECT_THAT(run.err, ContainsRegex(stamp + request + "\n"));
    EXPECT_THAT(
        run.err,
        ContainsRegex(stamp + "<- mux 1 \\(0x11\\) VER status reply: \"TEST V1\", "
                              "checksum BAD \\(expected [0-9A-F]{2}\\).*\\[bad checksum\\]"));
    EXPECT_THAT(run.err, ContainsRegex(stamp + request + "  \\[retry: attempt 2 of 5\\]"));
    EXPECT_THAT(run.err, ContainsRegex(stamp + "   time-out: no reply from mux 1 within 100 ms"));
    EXPECT_THAT(run.err, ContainsRegex(stamp + request + "  \\[retry: attempt 3 of 5\\]"));
    EXPECT_THAT(run.err, ContainsRegex(stamp + "<- .*\"TEST V1\", checksum ok"));
    // The driver sees the pty of the tap; the messages name the port given.
    ASSERT_EQ(sim.Received().size(), 3u);
}

// What retries used to hide: every bad reply is counted, though each read succeeds.
TEST_F(ToolOnSimulator, PollCountsBadRepliesAndRetriesPerMultiplexer) {
    sim.QueueFault({muxsim::FaultKind::BadChecksum, 0, 0}, 2);
    sim.QueueFault({muxsim::FaultKind::WrongSource, 0, 0}, 1);
    const ToolRun run = Run("poll", {"--json", "--cycles", "1", "--mux", "2"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 2u) << run.out;
    EXPECT_THAT(lines[1], HasSubstr(R"("mux":2,"requests":4,"good":4,"errors":0,"loss":0.0,)"
                                    R"("frames":7,"retries":3,"timeouts":0,"badChecksums":2,)"
                                    R"("wrongSource":1,"refused":0,"otherBad":0,)"));
}

TEST_F(ToolOnSimulator, TheTimeOutIsSetApartFromThePollInterval) {
    sim.SetPresent(3, false);
    const auto start = std::chrono::steady_clock::now();
    const ToolRun run = Run("read", {"--poll-interval", "10s", "--timeout", "50ms", "VER3"});
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_THAT(run.err, HasSubstr("(5 attempts, 50 ms each)"));
    EXPECT_LT(took, std::chrono::seconds(8));  // five attempts of 50 ms, not of 10 s
    const ToolRun help = RunTool({"read", "--help"});
    EXPECT_THAT(help.out, HasSubstr("repeats a failed exchange up to 5 times"));
    const ToolRun bad = Run("read", {"--timeout", "5ms", "VER1"});
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_THAT(bad.err, HasSubstr("--timeout 5ms: give 10ms .. 600s"));
}

TEST_F(ToolOnSimulator, ATappedPortIsHeldForExclusiveUse) {
    roderavo_test::ChildProgram holder(
        RODERAVO_TOOL, {"poll", "--driver", RODERAVO_DRIVER, "--port", sim.PortName(), "--cycles",
                        "0", "--poll-interval", "100ms"});
    ASSERT_TRUE(holder.Started());
    ASSERT_FALSE(holder.ReadLine(std::chrono::seconds(20)).empty());  // its first picture
    const ToolRun second = Run("read", {"--trace", "VER1"});
    EXPECT_EQ(second.exitCode, 2);
    // The tap holds the device as the driver would: by its lock file where lock files
    // can be made, and in exclusive mode.
    const std::string pid = "pid " + std::to_string(holder.Pid()) + " (roderavo)";
    EXPECT_THAT(second.err, HasSubstr(roderavo_test::LockDirectoryWritable()
                                          ? "is busy: it is locked by " + pid
                                          : "is busy: it is held in exclusive mode by " + pid));
    EXPECT_EQ(holder.Stop(SIGTERM, std::chrono::seconds(20)), 0);
}

}  // namespace
