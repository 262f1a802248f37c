// The exit codes and messages of the tool: refused addresses and values (1), line
// failures (2) with what to check, and the port diagnostics.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <optional>

#include "support/child_program.h"
#include "support/other_program.h"
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
        {"write", "KEY1=abc", "'abc' is not a value KEY1 takes; KEY takes a key code"},
        {"write", "JOY3=(101,0,0)", "JOY takes three numbers -100..100"},
        {"write", "PRESET2=9,13", "PRESET takes two key codes, e.g. (9,13)"},
        {"write", "TAD0=(32,12,2000,23,59,59)", "TAD takes (dd,mm,yyyy,hh,mm,ss)"},
        {"write", "TAD0=(1,1,2000,1,1,1)", "two digits a field and four for the year"},
        {"read", "caa1", "the address names no multiplexer: its value does"},
        {"poll", "--duration=0", "--duration 0: give a time above 0"},
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

// The commands that open the port: read through the driver, and those that go
// through the protocol tap (which takes the device by the driver's own rules).
const std::vector<std::vector<std::string>> kPortCommands = {
    {"read", "VER1"},          {"read", "--trace", "VER1"},         {"write", "KEY1=53"},
    {"poll", "--cycles", "1"}, {"poll", "--json", "--cycles", "1"},
};

std::string Joined(const std::vector<std::string>& words) {
    std::string text;
    for (const auto& word : words) text += (text.empty() ? "" : " ") + word;
    return text;
}

// A port that another program holds is refused (2) by every command, the holder is
// named, nothing goes on the line, and the holder's lock file or flag stays as it was.
// The simulator (this process) keeps the pty's slave open and holds its master: it is
// not taken for the holder when another program is there.
TEST_F(ToolOnSimulator, APortLockedOrHeldExclusiveNamesTheProcess) {
    const std::string lock = roderavo_test::LockFileOf(sim.DevicePath());
    const std::string us = "pid " + std::to_string(getpid());
    // A planted link: the lock folder is writable by everyone, and a link there to a
    // FIFO once held the diagnosis for ever.
    enum class Holder { LockFile, PlantedLink, OurExclusive, TheirExclusive, OurFlock };
    const std::string fifo = lock + ".fifo";
    struct Case {
        Holder holder;
        std::vector<std::string> says;
    };
    const Case cases[] = {
        {Holder::LockFile, {"is busy: it is locked by " + us, "(lock file " + lock + ")"}},
        {Holder::PlantedLink, {"is busy: its lock file " + lock + " names no process"}},
        {Holder::OurExclusive, {"is busy: it is held in exclusive mode by " + us}},
        {Holder::TheirExclusive, {"is busy: it is held in exclusive mode by pid "}},
        {Holder::OurFlock, {"is busy: it is held by " + us}},
    };
    for (const Case& c : cases) {
        const bool lockFile = c.holder == Holder::LockFile || c.holder == Holder::PlantedLink;
        if (lockFile && !roderavo_test::LockDirectoryWritable()) continue;
        for (const auto& command : kPortCommands) {
            SCOPED_TRACE(Joined(command) + ", holder " +
                         std::to_string(static_cast<int>(c.holder)));
            sim.ClearReceived();
            const int fd = open(sim.DevicePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
            ASSERT_GE(fd, 0);
            const std::string ours = roderavo_test::HdbPid(getpid());
            std::optional<roderavo_test::OtherProgram> holder;
            switch (c.holder) {
                case Holder::LockFile:
                    ASSERT_TRUE(roderavo_test::WriteText(lock, ours));
                    break;
                case Holder::PlantedLink:
                    ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
                    ASSERT_EQ(symlink(fifo.c_str(), lock.c_str()), 0);
                    break;
                case Holder::OurExclusive:
                    ASSERT_EQ(ioctl(fd, TIOCEXCL), 0);
                    break;
                case Holder::TheirExclusive:
                    holder.emplace(sim.DevicePath(), true);
                    ASSERT_TRUE(holder->Ready());
                    break;
                case Holder::OurFlock:
                    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
                    break;
            }
            const ToolRun run = Run(command[0], {command.begin() + 1, command.end()});
            EXPECT_EQ(run.exitCode, 2) << run.err;
            for (const auto& says : c.says) EXPECT_THAT(run.err, HasSubstr(says));
            if (std::find(command.begin(), command.end(), "--json") != command.end()) {
                EXPECT_THAT(run.out, HasSubstr(R"("error":")"));
                EXPECT_THAT(run.out, HasSubstr(c.says[0]));
            }
            if (holder) {
                EXPECT_THAT(run.err, HasSubstr("exclusive mode by pid " +
                                               std::to_string(holder->Pid()) + " ("));
                EXPECT_THAT(run.err, Not(HasSubstr(us)));
                EXPECT_THAT(run.err, Not(HasSubstr("which serves its other end")));
            }
            EXPECT_TRUE(sim.Received().empty()) << "a frame went out on a line held by another";
            if (c.holder == Holder::LockFile) {
                EXPECT_EQ(roderavo_test::ReadFile(lock), ours) << "another's lock file was touched";
            }
            if (c.holder == Holder::OurExclusive || c.holder == Holder::TheirExclusive) {
                EXPECT_EQ(roderavo_test::ExclusiveFlag(sim.DevicePath()), 1)
                    << "another's exclusive mode was cleared";
            }
            if (c.holder == Holder::PlantedLink) {
                EXPECT_TRUE(std::filesystem::is_symlink(lock)) << "a planted link was removed";
            }
            holder.reset();
            ioctl(fd, TIOCNXCL);
            close(fd);
            std::filesystem::remove(lock);
            std::filesystem::remove(fifo);
        }
    }
}

// A stale lock file that this user may not remove (a program of root's left it in
// the sticky lock folder) is named as what it is, with the command that removes it,
// not taken for a program that holds the port. Only root can make another user's
// lock file: the tool runs as nobody beside one of root's.
TEST_F(ToolOnSimulator, AStaleLockFileThisUserMayNotRemoveIsNamed) {
    if (geteuid() != 0) GTEST_SKIP() << "making another user's lock file takes root";
    if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "no setpriv to run as nobody";
    const std::string lock = roderavo_test::LockFileOf(sim.DevicePath());
    struct stat folder {};
    ASSERT_EQ(stat(roderavo_test::LockFolder().c_str(), &folder), 0);
    ASSERT_NE(folder.st_mode & S_ISVTX, 0U) << "the tests' lock folder is sticky, as /run/lock is";
    const pid_t dead = roderavo_test::EndedPid();
    const std::string stale = roderavo_test::HdbPid(dead);
    ASSERT_TRUE(roderavo_test::WriteText(lock, stale));
    ASSERT_EQ(chmod(sim.DevicePath().c_str(), 0666), 0);  // only the lock file keeps nobody out
    for (const auto& command : kPortCommands) {
        SCOPED_TRACE(Joined(command));
        std::vector<std::string> args = {"--reuid=65534", "--regid=65534", "--clear-groups",
                                         RODERAVO_TOOL,   command[0],      "--driver",
                                         RODERAVO_DRIVER, "--port",        sim.PortName()};
        args.insert(args.end(), command.begin() + 1, command.end());
        roderavo_test::ChildProgram tool("/usr/bin/setpriv", args,
                                         roderavo_test::ChildProgram::Stderr::Pipe);
        const ToolRun run = tool.Collect(std::chrono::seconds(30));
        EXPECT_EQ(run.exitCode, 2) << run.err;
        EXPECT_THAT(run.err, HasSubstr(sim.DevicePath() + " is free, but its lock file " + lock +
                                       " names pid " + std::to_string(dead) +
                                       ", which has ended, and this user may not remove it"));
        EXPECT_THAT(run.err, HasSubstr("sudo rm " + lock));
        EXPECT_THAT(run.err, Not(HasSubstr("held")));
        EXPECT_EQ(roderavo_test::ReadFile(lock), stale);
        EXPECT_TRUE(sim.Received().empty());
    }
    std::filesystem::remove(lock);
}

// Whether a child has ended (and waits to be reaped).
bool Ended(pid_t pid) {
    const std::string stat = roderavo_test::ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const auto name = stat.rfind(')');
    return name == std::string::npos || stat.compare(name, 3, ") Z") == 0;
}

// The line settings of a tty, to compare before and after.
struct LineSettingsSeen {
    int exclusive = -1;
    termios settings{};
    bool operator==(const LineSettingsSeen& other) const {
        return exclusive == other.exclusive && settings.c_iflag == other.settings.c_iflag &&
               settings.c_oflag == other.settings.c_oflag &&
               settings.c_cflag == other.settings.c_cflag &&
               settings.c_lflag == other.settings.c_lflag &&
               std::equal(std::begin(settings.c_cc), std::end(settings.c_cc),
                          std::begin(other.settings.c_cc)) &&
               cfgetospeed(&settings) == cfgetospeed(&other.settings);
    }
};

LineSettingsSeen SeeLine(const std::string& device) {
    LineSettingsSeen seen;
    const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return seen;
    if (ioctl(fd, TIOCGEXCL, &seen.exclusive) != 0) seen.exclusive = -1;
    tcgetattr(fd, &seen.settings);
    close(fd);
    return seen;
}

// Settings that no command of the tool would choose, so that a change shows.
LineSettingsSeen SetUnusualLine(const std::string& device) {
    const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        termios settings{};
        tcgetattr(fd, &settings);
        cfsetspeed(&settings, B1200);
        settings.c_cflag |= CSTOPB;
        settings.c_cc[VTIME] = 7;
        tcsetattr(fd, TCSANOW, &settings);
        close(fd);
    }
    return SeeLine(device);
}

// The protocol tap puts back what it changed on the device, however the command ends:
// the exclusive mode it set, the line settings as it found them, its lock file (and a
// stale lock file it found is gone). While it runs, its lock file names the tool.
TEST_F(ToolOnSimulator, TheTapPutsBackWhatItChangedOnEveryWayOut) {
    const std::string device = sim.DevicePath();
    const std::string lock = roderavo_test::LockFileOf(device);
    const bool lockFiles = roderavo_test::LockDirectoryWritable();
    enum class End { Normal, Error, Interrupt, Terminate, SecondInterrupt };
    struct Case {
        std::vector<std::string> command;
        End end;
    };
    const std::vector<std::string> write = {"write", "KEY1=53"};
    const std::vector<std::string> poll = {"poll", "--duration", "30s"};
    const std::vector<std::string> trace = {"read", "--trace", "VER1"};
    const std::vector<Case> cases = {
        {write, End::Normal},
        {{"poll", "--cycles", "1"}, End::Normal},
        {trace, End::Normal},
        {write, End::Error},
        {poll, End::Error},
        {trace, End::Error},
        {write, End::Interrupt},
        {poll, End::Interrupt},
        {trace, End::Interrupt},
        {write, End::Terminate},
        {poll, End::Terminate},
        {trace, End::Terminate},
        {write, End::SecondInterrupt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Joined(c.command) + ", way out " + std::to_string(static_cast<int>(c.end)));
        const LineSettingsSeen before = SetUnusualLine(device);
        ASSERT_EQ(before.exclusive, 0);
        if (lockFiles) {
            ASSERT_TRUE(
                roderavo_test::WriteText(lock, roderavo_test::HdbPid(roderavo_test::EndedPid())));
        }
        sim.ClearReceived();
        std::vector<std::string> args = {c.command[0], "--driver", RODERAVO_DRIVER, "--port",
                                         sim.PortName()};
        args.insert(args.end(), c.command.begin() + 1, c.command.end());
        if (c.end == End::Error) {
            // The tap holds the device; then the line fails: no answer is usable.
            sim.QueueFault({muxsim::FaultKind::BadChecksum, 0, 0}, 1000);
            args.insert(args.end(), {"--timeout", "20ms"});
            if (c.command[0] == "poll") args.insert(args.end(), {"--cycles", "1", "--mux", "1"});
            const ToolRun run = RunTool(args);
            sim.ClearFaults();
            EXPECT_EQ(run.exitCode, 2) << run.err;
            EXPECT_THAT(run.err, HasSubstr("VERODI: wrong receive"));
        } else if (c.end == End::Normal) {
            const ToolRun run = RunTool(args);
            EXPECT_EQ(run.exitCode, 0) << run.err;
        } else {
            // An exchange in flight when the signal comes: the multiplexer does not answer.
            sim.QueueFault({muxsim::FaultKind::NoAnswer, 0, 0}, 1000);
            if (c.end == End::SecondInterrupt) args.insert(args.end(), {"--timeout", "10s"});
            roderavo_test::ChildProgram tool(RODERAVO_TOOL, args,
                                             roderavo_test::ChildProgram::Stderr::File);
            ASSERT_TRUE(sim.WaitForFrames(1, std::chrono::seconds(20))) << tool.Errors();
            EXPECT_EQ(SeeLine(device).exclusive, 1) << "the tap holds the device exclusively";
            if (lockFiles) {
                EXPECT_EQ(roderavo_test::ReadFile(lock), roderavo_test::HdbPid(tool.Pid()))
                    << "the tap's lock file names the tool";
            }
            const int signal = c.end == End::Terminate ? SIGTERM : SIGINT;
            if (c.end == End::SecondInterrupt) {
                // Ctrl-C until it ends: the first asks it to stop, a second ends it at once.
                EXPECT_TRUE(
                    WaitUntil([&] { return kill(tool.Pid(), SIGINT) != 0 || Ended(tool.Pid()); },
                              std::chrono::seconds(20)));
            } else {
                sim.ClearFaults();  // an exchange that was let finish is answered
            }
            const int code =
                tool.Stop(c.end == End::SecondInterrupt ? 0 : signal, std::chrono::seconds(30));
            sim.ClearFaults();
            EXPECT_NE(code, -1) << "still running";
            if (c.end == End::SecondInterrupt) {
                EXPECT_EQ(code, 130);
                EXPECT_THAT(tool.Errors(), HasSubstr("ended at once"));
            }
        }
        const LineSettingsSeen after = SeeLine(device);
        EXPECT_EQ(after.exclusive, 0) << "the tap left the device in exclusive mode";
        EXPECT_TRUE(after == before) << "the tap left other line settings";
        EXPECT_FALSE(roderavo_test::Exists(lock)) << roderavo_test::ReadFile(lock);
        const ToolRun read = Run("read", {"VER1"});
        EXPECT_EQ(read.exitCode, 0) << read.err;
    }
    std::filesystem::remove(lock);
}

// read holds the port through the driver, without the tap: a signal that ends it
// while an exchange waits on a silent multiplexer must not leave the device in
// exclusive mode (where another program's open meets it until the far side
// restarts), nor its lock file.
TEST_F(ToolOnSimulator, AReadEndedBySignalGivesThePortBack) {
    const std::string device = sim.DevicePath();
    const std::string lock = roderavo_test::LockFileOf(device);
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(strsignal(signal));
        sim.ClearReceived();
        sim.QueueFault({muxsim::FaultKind::NoAnswer, 0, 0}, 1000);
        roderavo_test::ChildProgram tool(
            RODERAVO_TOOL, {"read", "--driver", RODERAVO_DRIVER, "--port", sim.PortName(), "VER1"},
            roderavo_test::ChildProgram::Stderr::File);
        ASSERT_TRUE(sim.WaitForFrames(1, std::chrono::seconds(20))) << tool.Errors();
        EXPECT_EQ(SeeLine(device).exclusive, 1) << "the driver holds the device exclusively";
        if (roderavo_test::LockDirectoryWritable()) {
            EXPECT_EQ(roderavo_test::ReadFile(lock), roderavo_test::HdbPid(tool.Pid()));
        }
        EXPECT_EQ(tool.Stop(signal, std::chrono::seconds(30)), 128 + signal) << tool.Errors();
        sim.ClearFaults();
        EXPECT_EQ(SeeLine(device).exclusive, 0) << "the device was left in exclusive mode";
        EXPECT_FALSE(roderavo_test::Exists(lock)) << roderavo_test::ReadFile(lock);
        std::filesystem::remove(lock);
    }
}

// The number of the pseudo-terminal the system hands out next, as things stand.
int NextPtyNumber() {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) return -1;
    const char* name = ptsname(master);
    const int number = name != nullptr ? std::atoi(name + std::strlen("/dev/pts/")) : -1;
    close(master);
    return number;
}

// The protocol tap hands the driver a pseudo-terminal of its own, which the driver
// takes by the lock files: one left naming its number (by a run that was killed, or a
// program whose pty is gone) must not keep the driver from it. Lock files, in a lock
// folder of this test's, name every number the tap may be given but the simulator's.
TEST_F(ToolOnSimulator, ALockFileNamingTheTapsPtyIsPassedOver) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("roderavo-locks-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const std::string saved = roderavo_test::LockFolder();
    setenv("RODERAVO_LOCK_DIR", folder.c_str(), 1);
    const int next = NextPtyNumber();
    ASSERT_GE(next, 0);
    const int simulators = std::atoi(sim.PortName().c_str() + std::strlen("pts/"));
    for (const std::string& content : {roderavo_test::HdbPid(getpid()), std::string("in use\n")}) {
        const auto lockOf = [&](int number) {
            return (folder / ("LCK..pts_" + std::to_string(number))).string();
        };
        for (int number = 0; number <= next + 3; ++number) {
            if (number == simulators) continue;
            ASSERT_TRUE(roderavo_test::WriteText(lockOf(number), content));
        }
        for (const auto& command : kPortCommands) {
            if (command.size() == 2 && command[0] == "read") continue;  // no tap
            SCOPED_TRACE(Joined(command) + ", a lock file holding " + content);
            const ToolRun run = Run(command[0], {command.begin() + 1, command.end()});
            EXPECT_EQ(run.exitCode, 0) << run.err;
            EXPECT_THAT(run.err, Not(HasSubstr("could not be set")));
        }
        EXPECT_EQ(roderavo_test::ReadFile(lockOf(next == simulators ? next + 1 : next)), content)
            << "another's lock file was touched";
    }
    setenv("RODERAVO_LOCK_DIR", saved.c_str(), 1);
    std::filesystem::remove_all(folder);
}

TEST_F(ToolOnSimulator, ALongLinkToTheDeviceIsResolved) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("roderavo-by-id-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const auto link = dir / "usb-FTDI_FT232R_USB_UART_A9XYZ-if00-port0";
    std::filesystem::create_symlink(sim.DevicePath(), link);
    const ToolRun run =
        RunTool({"read", "--driver", RODERAVO_DRIVER, "--port", link.string(), "-v", "VER1"});
    // The tool's messages name the port as the user gave it.
    sim.QueueFault({muxsim::FaultKind::NoAnswer, 0, 0}, 1000);
    const ToolRun silent = RunTool(
        {"poll", "--driver", RODERAVO_DRIVER, "--port", link.string(), "--cycles=1", "--mux=1"});
    std::filesystem::remove_all(dir);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("VER1 = TEST V1"));
    EXPECT_THAT(run.err, HasSubstr("the driver opens it as " + sim.PortName()));
    EXPECT_THAT(run.err, HasSubstr("VERODI: Entered KorMain(), with function 4"));  // -v traces
    EXPECT_THAT(silent.err, HasSubstr("not every multiplexer answered on port " + link.string()));
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

// Line settings that no port here can take (termios has no 1.5 stop bits) are refused
// before the line, as a wrong option, also when the protocol tap would hold the device
// (poll); never as a busy port or a failed line.
TEST(ToolLine, LineSettingsNoPortTakesAreRefusedBeforeTheLine) {
    for (const std::string command : {"read", "poll"}) {
        const ToolRun run = RunTool({command, "--simulate", "--stop-bits", "1.5",
                                     command == "poll" ? "--cycles=1" : "VER1"});
        EXPECT_EQ(run.exitCode, 1) << command << run.err;
        EXPECT_THAT(run.err, HasSubstr("--stop-bits 1.5: serial ports here take 1 or 2 stop bits"))
            << command;
        EXPECT_THAT(run.err, Not(HasSubstr("busy"))) << command;
        EXPECT_THAT(run.err, Not(HasSubstr("could not be set"))) << command;
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

// Each mistake gets its exit code (a wrong command line 1, a failed line 2) and a
// message in the tool's words that is true of what the user gave; with --json also
// the error record on stdout.
TEST(ToolUsage, EachMistakeGetsItsExitCodeAndATrueMessage) {
    const std::string driver = RODERAVO_DRIVER;
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string says;
        std::string saysOnStdout = "";
    };
    const std::vector<Case> cases = {
        {{"poll", "--simulate", "--sim-fault", "foo", "--cycles", "1"},
         1,
         "--sim-fault foo: give KIND[:N][@P], KIND one of no-answer"},
        {{"poll", "--json", "--mux", "9"},
         1,
         "--mux: takes a whole number from 0 to 4, not 9",
         R"(","error":"--mux: takes a whole number from 0 to 4, not 9"})"},
        {{"read", "--baud", "abc", "VER1"}, 1, "--baud takes a number, not abc"},
        {{}, 1, "give a command: info, parse, read, write, tagformat, poll, simulate"},
        {{"bridge", "--simulate", "--mqtt-keepalive", "1"},
         1,
         "--mqtt-keepalive: takes 5..3600 seconds, not 1"},
        {{"write", "--simulate", "--driver", driver, "KEY1=99999"},
         1,
         "write KEY1=99999: '99999' is not a value KEY1 takes; KEY takes a key code, e.g. 53"},
        {{"read", "--driver", driver, "--port", "NUL", "VER1"},
         2,
         "read VER1: no answer from multiplexer 1 on port NUL: the null device has no line"},
    };
    for (const Case& c : cases) {
        const ToolRun run = RunTool(c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << Joined(c.args) << "\n" << run.err;
        EXPECT_THAT(run.err, HasSubstr("roderavo: " + c.says)) << Joined(c.args);
        for (const char* raw : {"Could not convert", "is required", "0..65535", "attempts"})
            EXPECT_THAT(run.err, Not(HasSubstr(raw))) << Joined(c.args);
        EXPECT_THAT(run.out, HasSubstr(c.saysOnStdout)) << Joined(c.args);
    }
}

}  // namespace
