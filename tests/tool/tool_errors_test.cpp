// The exit codes and messages of the tool: refused addresses and values (1), line
// failures (2) with what to check, and the port diagnostics.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iomanip>

#include "support/child_program.h"
#include "support/pty_peer.h"
#include "tool_fixture.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

TEST_F(ToolOnSimulator, RefusedAddressesAndValuesExitWithOne) {
    struct Case {
        std::string command, argument, message;
    };
    const std::vector<Case> cases = {
        {"read", "KEY5", "read KEY5: not a valid gate address: the form is KEY m"},
        {"read", "ALS021", "cc a camera of that multiplexer"},
        {"read", "KEY1", "read KEY1: this is a write only gate and cannot be read"},
        {"write", "AAS1=1", "AAS1 is a read only gate and cannot be written"},
        {"write", "KEY9=1", "KEY9 is not a valid gate address"},
        {"write", "KEY1=840", "write KEY1=840: the driver refused the value: KEY takes a key code"},
        {"write", "KEY1=abc", "'abc' is not a number 0..65535"},
        {"write", "JOY3=(101,0,0)", "JOY takes three numbers -100..100"},
        {"write", "PRESET2=9,13", "PRESET takes two key codes, e.g. (9,13)"},
        {"write", "TAD0=(32,12,2000,23,59,59)", "TAD takes (dd,mm,yyyy,hh,mm,ss)"},
        {"write", "KEY1", "give ADDRESS=VALUE"},
    };
    for (const auto& c : cases) {
        const ToolRun run = Run(c.command, {c.argument});
        EXPECT_EQ(run.exitCode, 1) << c.argument << "\n" << run.err;
        EXPECT_THAT(run.err, HasSubstr("roderavo: ")) << c.argument;
        EXPECT_THAT(run.err, HasSubstr(c.message)) << c.argument;
    }
    // A refused write sends nothing, and a refused address stops before the line.
    EXPECT_TRUE(sim.Received().empty());
}

TEST(ToolLine, AnAbsentDeviceExitsWithTwoAndSaysWhatToCheck) {
    roderavo_test::PtyPeer line;
    ASSERT_TRUE(line.Ok());
    const std::string name = line.PortName();  // "pts/N"
    line.ReleaseSlave();
    const ToolRun run = RunTool(
        {"read", "--driver", RODERAVO_DRIVER, "--port", name, "--poll-interval", "20ms", "VER1"});
    line.Vanish();
    EXPECT_EQ(run.exitCode, 2) << run.err;
    EXPECT_THAT(run.err, HasSubstr("VERODI: Failed to read reply from PLC,GAS:VER1."));
    EXPECT_THAT(run.err, HasSubstr("read VER1: no answer from multiplexer 1 on port " + name));
    EXPECT_THAT(run.err, HasSubstr("set to address 1"));
}

TEST_F(ToolOnSimulator, UnusableAnswersExitWithTwoAndPointAtTheLineSettings) {
    sim.QueueFault({muxsim::FaultKind::BadChecksum, 0, 0}, 5);
    const ToolRun run = Run("read", {"--poll-interval", "100ms", "VER1"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_THAT(run.err, HasSubstr("VERODI: wrong receive"));
    EXPECT_THAT(run.err, HasSubstr("read VER1: multiplexer 1 on port " + sim.PortName() +
                                   " answered, but not with a usable frame"));
    // An acknowledgement that says no is the multiplexer refusing, not the line.
    sim.QueueFault({muxsim::FaultKind::AckStatus, 0, 0}, 5);
    const ToolRun write = Run("write", {"--json", "--poll-interval", "100ms", "KEY1=53"});
    EXPECT_EQ(write.exitCode, 2);
    EXPECT_THAT(write.err, HasSubstr("write KEY1=53: multiplexer 1 on port " + sim.PortName() +
                                     " refused the command"));
    EXPECT_THAT(write.err, Not(HasSubstr("line settings")));
    EXPECT_THAT(write.out, HasSubstr(R"("result":1,"log":"wrong receive"})"));
}

// One refused value refuses the whole batch before any frame goes out.
TEST_F(ToolOnSimulator, AWriteBatchIsJudgedWholeBeforeAnythingIsSent) {
    for (const std::string value : {"PTZ0=30", "KEY1=840", "JOY3=(101,0,0)", "PRESET2=(9,12)",
                                    "INHPAIR4=(48,49,50,51,52,1)", "IHK2075=(9,1)"}) {
        const ToolRun run = Run("write", {"KEY1=53", value, "KEY2=53"});
        EXPECT_EQ(run.exitCode, 1) << value << "\n" << run.err;
        EXPECT_THAT(run.err, HasSubstr("write " + value + ": the driver refused the value"));
        EXPECT_EQ(run.out, "") << value;
    }
    EXPECT_TRUE(sim.Received().empty());
}

// Ctrl-C in a batch lets the write on the line finish, then says whether it went out
// and which were not sent; the simulator answers late, so that the interrupt comes
// in the middle of the batch.
TEST_F(ToolOnSimulator, CtrlCDuringAWriteSaysWhatWentOut) {
    sim.QueueFault({muxsim::FaultKind::Delay, 300}, 3);
    roderavo_test::ChildProgram tool(RODERAVO_TOOL,
                                     {"write", "--driver", RODERAVO_DRIVER, "--port",
                                      sim.PortName(), "KEY1=53", "KEY2=53", "KEY3=53"},
                                     roderavo_test::ChildProgram::Stderr::File);
    ASSERT_EQ(tool.ReadLine(std::chrono::seconds(20)), "KEY1 = 53  done");
    EXPECT_EQ(tool.Stop(SIGINT, std::chrono::seconds(20)), 130);
    // The interrupt comes while KEY2 is on the line, or just before it goes out.
    const std::size_t sent = sim.Received().size();
    ASSERT_TRUE(sent == 1 || sent == 2) << sent;
    EXPECT_THAT(tool.Errors(), HasSubstr("stopped by Ctrl-C: KEY" + std::to_string(sent) +
                                         "=53 went out and was acknowledged; not sent: " +
                                         (sent == 1 ? "KEY2=53 KEY3=53" : "KEY3=53")));
}

// A reply that arrived whole but carries a camera state the driver does not know is
// refused (1), not taken for a line failure (2).
TEST_F(ToolOnSimulator, AReplyWithAnUnknownCameraStateIsRefusedWithOne) {
    sim.SetCameraStateByte(21, 0x33);
    for (const std::string gate : {"AAS1", "ALS121"}) {
        const ToolRun run = Run("read", {gate});
        EXPECT_EQ(run.exitCode, 1) << gate << "\n" << run.err;
        EXPECT_THAT(run.err, HasSubstr("read " + gate + ": the driver refused the reply"));
        EXPECT_THAT(run.err, Not(HasSubstr("usable frame"))) << gate;
    }
}

TEST(ToolLine, AMissingDeviceIsNamedWithTheDevicesThatExist) {
    const ToolRun run =
        RunTool({"read", "--driver", RODERAVO_DRIVER, "--port", "ttyUSB77", "VER0"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_THAT(run.err, HasSubstr("VERODI: Fail to open COMM port ttyUSB77"));
    EXPECT_THAT(run.err, HasSubstr("roderavo: cannot open port ttyUSB77: there is no device "
                                   "/dev/ttyUSB77"));
    const ToolRun longName =
        RunTool({"read", "--driver", RODERAVO_DRIVER, "--port",
                 "/dev/serial/by-id/usb-FTDI_FT232R_UART_A1-if00-port0", "VER0"});
    EXPECT_EQ(longName.exitCode, 2);
    EXPECT_THAT(longName.err, HasSubstr("there is no device /dev/serial/by-id/usb-FTDI"));
}

TEST_F(ToolOnSimulator, ABusyPortNamesTheProcessThatHoldsIt) {
    const int fd = open(sim.DevicePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    const ToolRun run = Run("read", {"VER1"});
    close(fd);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_THAT(run.err, HasSubstr(sim.DevicePath() + " is busy: it is held by pid " +
                                   std::to_string(getpid())));
}

TEST_F(ToolOnSimulator, APortLockedOrHeldExclusiveNamesTheProcess) {
    std::string lock = sim.DevicePath().substr(5);  // "pts/N"
    std::replace(lock.begin(), lock.end(), '/', '_');
    lock = "/var/lock/LCK.." + lock;
    const std::string us = "pid " + std::to_string(getpid());
    struct Case {
        bool lockFile, exclusive;
        std::string says;
    };
    const Case cases[] = {
        {true, false, "is busy: it is locked by " + us},
        {true, false, "(lock file " + lock + ")"},
        {false, true, "is busy: it is held in exclusive mode by " + us},
    };
    for (const Case& c : cases) {
        const int fd = open(sim.DevicePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        if (c.lockFile) {
            std::ofstream(lock) << std::setw(10) << getpid() << '\n';
        }
        if (c.exclusive) {
            ASSERT_EQ(ioctl(fd, TIOCEXCL), 0);
        }
        const ToolRun run = Run("read", {"VER1"});
        ioctl(fd, TIOCNXCL);
        close(fd);
        std::filesystem::remove(lock);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_THAT(run.err, HasSubstr(c.says));
    }
}

TEST_F(ToolOnSimulator, ALongLinkToTheDeviceIsResolved) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("roderavo-by-id-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const auto link = dir / "usb-FTDI_FT232R_USB_UART_A9XYZ-if00-port0";
    std::filesystem::create_symlink(sim.DevicePath(), link);
    const ToolRun run =
        RunTool({"read", "--driver", RODERAVO_DRIVER, "--port", link.string(), "-v", "VER1"});
    std::filesystem::remove_all(dir);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("VER1 = TEST V1"));
    EXPECT_THAT(run.err, HasSubstr("the driver opens it as " + sim.PortName()));
    EXPECT_THAT(run.err, HasSubstr("VERODI: Entered KorMain(), with function 4"));  // -v traces
}

TEST(ToolLine, WithoutAPortTheToolRunsOnTheSimulator) {
    const ToolRun run = RunTool({"read", "--driver", RODERAVO_DRIVER, "AAS1", "ALS127"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_THAT(run.err, HasSubstr("no --port given: running on the built-in simulator"));
    EXPECT_THAT(run.out, HasSubstr("SAC127 = 32 (Alarm)"));
    const ToolRun write =
        RunTool({"write", "--simulate", "--driver", RODERAVO_DRIVER, "KEY1=53", "TAD0=now"});
    EXPECT_EQ(write.exitCode, 0) << write.err;
}

// Line settings that the port refuses are named as such, also when the protocol tap
// holds the device (poll) and the port itself is not to blame.
TEST(ToolLine, RefusedLineSettingsAreNamedNotABusyPort) {
    for (const std::string command : {"read", "poll"}) {
        const ToolRun run = RunTool({command, "--simulate", "--stop-bits", "1.5",
                                     command == "poll" ? "--cycles=1" : "VER1"});
        EXPECT_EQ(run.exitCode, 2) << command << run.err;
        EXPECT_THAT(run.err, HasSubstr("could not be set to 9600 baud, 8 data bits, parity none, "
                                       "1.5 stop bits"))
            << command;
        EXPECT_THAT(run.err, Not(HasSubstr("busy"))) << command;
    }
}

TEST(ToolLine, AFileOrDirectoryGivenAsAPortIsNamedAsSuch) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("roderavo-notty-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir / "a-directory-with-a-long-name");
    const auto file = dir / "a-regular-file-with-a-long-name";
    std::FILE* out = std::fopen(file.c_str(), "w");
    ASSERT_NE(out, nullptr);
    std::fclose(out);
    struct Case {
        std::string port, expected;
    };
    const std::vector<Case> cases = {
        {file.string(), "is a regular file, not a serial device"},
        {(dir / "a-directory-with-a-long-name").string(), "is a directory, not a serial device"},
    };
    for (const Case& c : cases) {
        const ToolRun run =
            RunTool({"read", "--driver", RODERAVO_DRIVER, "--port", c.port, "VER0"});
        EXPECT_EQ(run.exitCode, 2) << run.err;
        EXPECT_THAT(run.err, HasSubstr(c.expected));
        EXPECT_THAT(run.err, Not(HasSubstr("longer than")));
    }
    std::filesystem::remove_all(dir);
}

TEST(ToolUsage, UsageErrorsExitWithOneBeforeTheLine) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"read", "--simulate", "--port", "ttyS0", "VER1"}, "--port excludes --simulate"},
        {{"poll", "--port", "ttyS0", "--simulate"}, "--port excludes --simulate"},
        {{"write", "--port", "", "KEY1=53"}, "--port: give a port name"},
        {{"read", "--simulate", "--log", "/nonexistent/x.log", "VER1"},
         "roderavo: cannot write the log file /nonexistent/x.log: No such file or directory\n"},
        {{"poll", "--simulate", "--cycles", "1", "--mux=1", "2"}, "not expected: 2"},
    };
    for (const Case& c : cases) {
        const ToolRun run = RunTool(c.args);
        EXPECT_EQ(run.exitCode, 1) << c.message;
        EXPECT_THAT(run.err, HasSubstr(c.message));
        EXPECT_THAT(run.out, Not(HasSubstr("=")));  // nothing was read or written
    }
}

TEST(ToolJson, FailuresAreJsonObjectsOnStdoutToo) {
    const ToolRun run =
        RunTool({"read", "--json", "--driver", RODERAVO_DRIVER, "--port", "ttyUSB77", "VER0"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_THAT(run.out, ::testing::StartsWith(R"({"time":")"));
    EXPECT_THAT(run.out, HasSubstr(R"(,"error":"cannot open port ttyUSB77: there is no device )"));
    EXPECT_THAT(run.err, HasSubstr("roderavo: cannot open port ttyUSB77"));
}

// A reader that goes away ends polling, in JSON as in plain text, and the port is free.
TEST(ToolJson, PollEndsWhenItsReaderCloses) {
    for (const std::string mode : {"--json", "--color=never"}) {
        const auto start = std::chrono::steady_clock::now();
        const std::string command = std::string("timeout 60 ") + RODERAVO_TOOL +
                                    " poll --simulate --cycles 0 --poll-interval 50ms --driver " +
                                    RODERAVO_DRIVER + " " + mode + " 2>/dev/null | head -1";
        FILE* pipe = popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        char line[4096] = {};
        ASSERT_NE(fgets(line, sizeof line, pipe), nullptr);
        pclose(pipe);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(40)) << mode;
    }
}

TEST(ToolUsage, BadOptionsAndAMissingDriverAreReported) {
    const ToolRun parity = RunTool({"read", "--simulate", "--parity", "sometimes", "VER1"});
    EXPECT_EQ(parity.exitCode, 1);
    EXPECT_THAT(parity.err, HasSubstr("--parity takes none, odd, even, mark or space"));
    const ToolRun unknown = RunTool({"frobnicate"});
    EXPECT_EQ(unknown.exitCode, 1);
    const ToolRun driver = RunTool({"info", "--driver", "/nonexistent/libroderavo.so"});
    EXPECT_EQ(driver.exitCode, 2);
    EXPECT_THAT(driver.err, HasSubstr("cannot load the driver /nonexistent/libroderavo.so"));
    const ToolRun help = RunTool({"poll", "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_THAT(help.out, HasSubstr("--demote-after"));
}

}  // namespace
