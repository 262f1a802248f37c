// The muxsim program end to end: start it, wait for its ready line, talk to its pty,
// stop it by its pid.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>

#include "muxsim/driver_end.h"

extern char** environ;

namespace {

using muxsim_test::Bytes;
using muxsim_test::DriverEnd;
using muxsim_test::Framed;
using muxsim_test::Hex;
using std::chrono::milliseconds;

// A started muxsim program: its pid, its stdout pipe and its stderr file.
class Program {
  public:
    explicit Program(std::vector<std::string> args) {
        stderrPath_ = ::testing::TempDir() + "muxsim_cli_" + std::to_string(getpid()) + "_" +
                      std::to_string(counter_++) + ".err";
        int out[2];
        if (pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        posix_spawn_file_actions_addopen(&actions, 2, stderrPath_.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        args.insert(args.begin(), MUXSIM_PROGRAM);
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, MUXSIM_PROGRAM, &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        out_ = out[0];
    }
    ~Program() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
        unlink(stderrPath_.c_str());
    }

    // The first line on stdout, or "" when none came in time.
    std::string ReadyLine(milliseconds timeout = milliseconds(10000)) {
        std::string line;
        const auto deadline = muxsim_test::Steady::now() + timeout;
        while (line.find('\n') == std::string::npos) {
            const auto left =
                std::chrono::duration_cast<milliseconds>(deadline - muxsim_test::Steady::now());
            pollfd wait{out_, POLLIN, 0};
            if (left.count() <= 0 || poll(&wait, 1, static_cast<int>(left.count())) <= 0) return "";
            char buffer[128];
            const ssize_t n = read(out_, buffer, sizeof buffer);
            if (n <= 0) break;
            line.append(buffer, static_cast<std::size_t>(n));
        }
        return line.substr(0, line.find('\n'));
    }

    // Sends the signal and waits for the exit; the exit status, or -1 when it did not end.
    int Stop(int signal = SIGTERM) {
        if (pid_ <= 0) return -1;
        if (signal != 0) kill(pid_, signal);
        return Wait();
    }
    int Wait() {
        for (int i = 0; i < 500; ++i) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(milliseconds(10));
        }
        return -1;
    }
    std::string Output() {
        std::string text;
        char buffer[4096];
        ssize_t n;
        while ((n = read(out_, buffer, sizeof buffer)) > 0)
            text.append(buffer, static_cast<std::size_t>(n));
        return text;
    }
    std::string Errors() const {
        std::ifstream file(stderrPath_);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }
    bool Started() const { return pid_ > 0; }

  private:
    static inline int counter_ = 0;
    pid_t pid_ = -1;
    int out_ = -1;
    std::string stderrPath_;
};

TEST(MuxsimProgram, ServesItsPtyUntilStopped) {
    Program program({"--mux", "0,1", "--alarm", "25=Alarm", "--alarm", "26=video-loss",
                     "--video-loss", "27", "--version", "V9", "--clock", "2000-11-06 08:12:33",
                     "--frozen-clock", "--trace"});
    ASSERT_TRUE(program.Started());
    const std::string port = program.ReadyLine();
    ASSERT_EQ(port.rfind("pts/", 0), 0u) << port;
    DriverEnd peer("/dev/" + port);
    ASSERT_TRUE(peer.Open());

    EXPECT_EQ(Hex(peer.Exchange({0xFF, 0x06, 0x11, 0x48, 0x3C, 0x10, 0x55}, 9)),
              Hex(Framed({0xFF, 0x08, 0xF0, 0x48, 0x11, 0x10, 'V', '9'})));
    EXPECT_EQ(Hex(peer.Exchange({0xFF, 0x07, 0x11, 0x49, 0x3C, 0x10, 0x19, 0x3A}, 20)),
              "FF 12 F0 49 11 10 00 20 11 06 02 08 12 33 00 00 00 20 EE 00");
    Bytes aas(20, 0);
    aas[4] = 0x20;  // camera 25
    aas[5] = 0x2E;  // camera 26
    Bytes aasReply{0xFF, 26, 0xF0, 0x50, 0x11, 0x10};
    aasReply.insert(aasReply.end(), aas.begin(), aas.end());
    EXPECT_EQ(Hex(peer.Exchange({0xFF, 0x06, 0x11, 0x50, 0x3C, 0x10, 0x4D}, 27)),
              Hex(Framed(aasReply)));
    Bytes vlsReply{0xFF, 26, 0xF0, 0x51, 0x11, 0x10};
    vlsReply.resize(26, 0);
    vlsReply[6 + 6] = 0x01;
    EXPECT_EQ(Hex(peer.Exchange({0xFF, 0x06, 0x11, 0x51, 0x3C, 0x10, 0x4C}, 27)),
              Hex(Framed(vlsReply)));
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
              Hex(Framed({0xFF, 0x07, 0xF0, 0x04, 0x11, 0x10, 0x01})));
    EXPECT_EQ(program.Stop(SIGINT), 0);
}

TEST(MuxsimProgram, HelpAndBadArguments) {
    Program help({"--help"});
    EXPECT_EQ(help.Wait(), 0);
    const std::string text = help.Output();
    for (const char* option : {"--device", "--mux", "--alarm", "--video-loss", "--version",
                               "--baud", "--trace", "--fault", "--seed"})
        EXPECT_NE(text.find(option), std::string::npos) << option;

    for (std::vector<std::string> bad : {std::vector<std::string>{"--alarm", "101"},
                                         {"--fault", "fire"},
                                         {"--mux", "7"},
                                         {"--device", "/nonexistent/tty"}}) {
        Program program(bad);
        EXPECT_NE(program.Wait(), 0) << bad[0] << " " << bad[1];
        EXPECT_EQ(program.Output(), "") << bad[0];
    }
}

}  // namespace
