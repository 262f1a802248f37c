// roderavo bridge as a Type=notify service: what it says on a NOTIFY_SOCKET of the test's
// own. READY=1 after the first poll cycle, WATCHDOG=1 while cycles run, none while the
// polling thread is held (stopped with ptrace, the rest of the process running: its
// Modbus face still answers), again once it is let go, and STOPPING=1 at the end.
#include <gtest/gtest.h>
#include <modbus/modbus.h>
#include <muxsim/simulator.h>
#include <poll.h>
#include <sys/ptrace.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "bridge/broker.h"

using namespace roderavo_test;
using namespace std::chrono_literals;

namespace {

// An AF_UNIX datagram socket bound to a path, as systemd's notification socket.
class NotifySocket {
  public:
    explicit NotifySocket(const std::string& path) : path_(path) {
        fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
        bound_ = fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    }
    ~NotifySocket() {
        if (fd_ >= 0) close(fd_);
    }
    bool Bound() const { return bound_; }
    // The next notification, or nothing when none came within the time-out.
    std::optional<std::string> Next(std::chrono::milliseconds timeout) {
        pollfd wait{fd_, POLLIN, 0};
        if (poll(&wait, 1, static_cast<int>(timeout.count())) <= 0) return std::nullopt;
        char buffer[512];
        const ssize_t size = recv(fd_, buffer, sizeof(buffer), 0);
        if (size < 0) return std::nullopt;
        return std::string(buffer, static_cast<std::size_t>(size));
    }
    // Waits for `text`; the notifications before it are passed over.
    bool WaitFor(const std::string& text, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline)
            if (Next(100ms) == text) return true;
        return false;
    }
    void Drain() {
        while (Next(0ms)) {
        }
    }

  private:
    std::string path_;
    int fd_ = -1;
    bool bound_ = false;
};

// The Modbus face's heartbeat (input register 300: seconds since the bridge started).
std::optional<int> Heartbeat(int port) {
    modbus_t* modbus = modbus_new_tcp("127.0.0.1", port);
    uint16_t value = 0;
    const bool read = modbus != nullptr && modbus_connect(modbus) == 0 &&
                      modbus_read_input_registers(modbus, 300, 1, &value) == 1;
    if (modbus != nullptr) {
        modbus_close(modbus);
        modbus_free(modbus);
    }
    return read ? std::optional<int>(value) : std::nullopt;
}

TEST(ServiceNotify, ReadyAfterTheFirstCycleAndAWatchdogOnlyWhileThePollRuns) {
    muxsim::Simulator sim;
    ASSERT_TRUE(sim.StartOnPty());
    TempFolder folder;
    NotifySocket notify(folder.File("notify"));
    ASSERT_TRUE(notify.Bound());
    const int modbusPort = FreePort();
    // The environment systemd gives a Type=notify service with a watchdog of 1 s.
    setenv("NOTIFY_SOCKET", folder.File("notify").c_str(), 1);
    setenv("WATCHDOG_USEC", "1000000", 1);
    ChildProgram bridge(RODERAVO_TOOL,
                        {"bridge", "--driver", RODERAVO_DRIVER, "--port", sim.PortName(), "--mux",
                         "0,1", "--poll-interval", "200ms", "--timeout", "100ms", "--modbus",
                         "127.0.0.1:" + std::to_string(modbusPort)},
                        ChildProgram::Stderr::File);
    unsetenv("NOTIFY_SOCKET");
    unsetenv("WATCHDOG_USEC");
    ASSERT_TRUE(bridge.Started());

    // Ready comes first, once the first cycle has read both multiplexers.
    ASSERT_EQ(notify.Next(20s), "READY=1") << bridge.Errors();
    EXPECT_GE(sim.Received().size(), 8u);  // four gates of each
    for (int pet = 0; pet < 3; ++pet) ASSERT_TRUE(notify.WaitFor("WATCHDOG=1", 5s));

    // The polling thread (the main thread) held: no pet for three watchdog intervals,
    // while the Modbus face's thread still answers and its heartbeat counts on.
    const pid_t pid = bridge.Pid();
    ASSERT_EQ(ptrace(PTRACE_SEIZE, pid, nullptr, nullptr), 0) << std::strerror(errno);
    ASSERT_EQ(ptrace(PTRACE_INTERRUPT, pid, nullptr, nullptr), 0) << std::strerror(errno);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, __WALL), pid);
    ASSERT_TRUE(WIFSTOPPED(status));
    notify.Drain();  // a pet sent before the stop
    const auto before = Heartbeat(modbusPort);
    const auto heard = notify.Next(3s);
    const auto after = Heartbeat(modbusPort);
    ASSERT_EQ(ptrace(PTRACE_DETACH, pid, nullptr, nullptr), 0) << std::strerror(errno);
    EXPECT_FALSE(heard) << "while the poll was held: " << *heard;
    ASSERT_TRUE(before && after) << "the Modbus face did not answer while the poll was held";
    EXPECT_GE(*after - *before, 2);

    // Let go, the poll pets again; stopped, the bridge says so.
    EXPECT_TRUE(notify.WaitFor("WATCHDOG=1", 5s));
    EXPECT_EQ(bridge.Stop(SIGTERM, 5s), 0) << bridge.Errors();
    EXPECT_TRUE(notify.WaitFor("STOPPING=1", 1s));
    sim.Stop();
}

}  // namespace
