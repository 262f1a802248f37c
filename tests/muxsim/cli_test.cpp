// The muxsim program end to end: start it, wait for its ready line, talk to its pty,
// stop it by its pid.
#include <gtest/gtest.h>
#include <signal.h>

#include "muxsim/driver_end.h"
#include "support/child_program.h"

namespace {

using muxsim_test::Bytes;
using muxsim_test::DriverEnd;
using muxsim_test::Hex;
using roderavo_test::Acknowledgement;
using roderavo_test::StatusReply;
using std::chrono::milliseconds;

// A started muxsim program: its pid, its stdout pipe and its stderr file.
class Program : public roderavo_test::ChildProgram {
  public:
    explicit Program(std::vector<std::string> args)
        : ChildProgram(MUXSIM_PROGRAM, std::move(args), Stderr::File) {}
    // The first line on stdout, or "" when none came in time.
    std::string ReadyLine() { return ReadLine(std::chrono::seconds(10)); }
    // Sends the signal and waits for the exit; the exit status, or -1 when it did not end.
    int Stop(int signal = SIGTERM) { return ChildProgram::Stop(signal, std::chrono::seconds(5)); }
    int Wait() { return ChildProgram::Wait(std::chrono::seconds(5)); }
};

TEST(MuxsimProgram, ServesItsPtyUntilStopped) {
    Program program({"--mux", "0,1", "--alarm", "25=Alarm", "--alarm", "26=video-loss",
                     "--video-loss", "27", "--mux-version", "V9", "--clock", "2000-11-06 08:12:33",
                     "--frozen-clock", "--trace"});
    ASSERT_TRUE(program.Started());
    const std::string port = program.ReadyLine();
    ASSERT_EQ(port.rfind("pts/", 0), 0u) << port;
    DriverEnd peer("/dev/" + port);
    ASSERT_TRUE(peer.Open());

    EXPECT_EQ(Hex(peer.Exchange({0xFF, 0x06, 0x11, 0x48, 0x3C, 0x10, 0x55}, 9)),
              Hex(StatusReply(0x48, 0x11, {'V', '9'})));
    EXPECT_EQ(Hex(peer.Exchange({0xFF, 0x07, 0x11, 0x49, 0x3C, 0x10, 0x19, 0x3A}, 20)),
              "FF 12 F0 49 11 10 00 20 11 06 02 08 12 33 00 00 00 20 EE 00");
    Bytes aas(20, 0);
    aas[4] = 0x20;  // camera 25
    aas[5] = 0x2E;  // camera 26
    EXPECT_EQ(Hex(peer.Exchange({0xFF, 0x06, 0x11, 0x50, 0x3C, 0x10, 0x4D}, 27)),
              Hex(StatusReply(0x50, 0x11, aas)));
    Bytes vls(20, 0);
    vls[6] = 0x01;  // camera 27
    EXPECT_EQ(Hex(peer.Exchange({0xFF, 0x06, 0x11, 0x51, 0x3C, 0x10, 0x4C}, 27)),
              Hex(StatusReply(0x51, 0x11, vls)));
    // Multiplexer 2 is not on the line.
    ASSERT_TRUE(peer.Write({0xFF, 0x06, 0x21, 0x07, 0x3C, 0x10, 0x86}));
    EXPECT_TRUE(peer.Read(1, milliseconds(250)).empty());

    EXPECT_EQ(program.Stop(SIGTERM), 0);
    EXPECT_EQ(program.Output(), "");  // nothing but the ready line on stdout
    const std::string trace = program.Errors();
    EXPECT_NE(trace.find("-> mux 1 (0x11) VER status request, checksum ok"), std::string::npos)
        << trace;
    EXPECT_NE(trace.find("<- mux 1 (0x11) ALS status reply: alarm report Alarm at 06.11.2000"),
              std::string::npos)
        << trace;
    EXPECT_NE(trace.find("ignored: multiplexer 2 absent"), std::string::npos) << trace;
}

TEST(MuxsimProgram, FaultsFromTheCommandLineAndSigint) {
    Program program({"--fault", "ack-status", "--seed", "3"});
    const std::string port = program.ReadyLine();
    ASSERT_FALSE(port.empty());
    DriverEnd peer("/dev/" + port);
    EXPECT_EQ(Hex(peer.Exchange({0xFF, 0x07, 0x11, 0x06, 0x3E, 0x10, 0x35, 0x5F}, 8)),
              Hex(Acknowledgement(0x11, 0x01)));
    EXPECT_EQ(program.Stop(SIGINT), 0);
}

TEST(MuxsimProgram, HelpAndBadArguments) {
    Program help({"--help"});
    EXPECT_EQ(help.Wait(), 0);
    const std::string text = help.Output();
    for (const char* option : {"--device", "--mux", "--alarm", "--video-loss", "--mux-version",
                               "--baud", "--trace", "--fault", "--seed", "--version"})
        EXPECT_NE(text.find(option), std::string::npos) << option;
    Program version({"--version"});
    EXPECT_EQ(version.Wait(), 0);
    EXPECT_EQ(version.Output(), std::string("muxsim ") + RODERAVO_VERSION + "\n");

    // A wrong command line ends with 1, a device that cannot be served with 2; each
    // message begins with the program's name and says why.
    struct Case {
        std::vector<std::string> args;
        int exit;
        std::string says;
    };
    const Case cases[] = {
        {{"--alarm", "101"}, 1, "muxsim: --alarm: not a valid camera"},
        {{"--fault", "fire"},
         1,
         "muxsim: --fault: not a valid fault: fire; give KIND[:N][@P], KIND one of no-answer"},
        {{"--video-loss", "0"}, 1, "takes a whole number from 1 to 100, not 0"},
        {{"--bogus"}, 1, "muxsim: The following argument was not expected: --bogus"},
        {{"--device", "/nonexistent/tty"}, 2, "cannot serve /nonexistent/tty: No such file"},
        {{"--device", "/dev/null"}, 2, "cannot serve /dev/null: it is not a terminal device"},
    };
    for (const Case& c : cases) {
        Program program(c.args);
        EXPECT_EQ(program.Wait(), c.exit) << c.args[0];
        EXPECT_EQ(program.Output(), "") << c.args[0];
        EXPECT_NE(program.Errors().find(c.says), std::string::npos) << program.Errors();
    }
}

}  // namespace
