// Exclusive use of a port on POSIX, on pseudo-terminals: another program's
// TIOCEXCL (which root, and so this test, could walk past), UUCP lock files in the
// lock directory, and what the driver leaves behind when it fails or closes.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "serial/port.h"
#include "support/child_program.h"
#include "support/pty_peer.h"

namespace {

using namespace roderavo;
using roderavo_test::PtyPeer;

// A program that holds the port: a child process that opens the device (and sets
// TIOCEXCL on it when asked), says so, and lives until Stop.
class OtherProgram {
  public:
    OtherProgram(const std::string& device, bool exclusive) {
        int ready[2];
        int stop[2];
        if (pipe(ready) != 0) return;
        if (pipe(stop) != 0) {
            close(ready[0]);
            close(ready[1]);
            return;
        }
        pid_ = fork();
        if (pid_ == 0) {  // only async-signal-safe calls from here
            close(ready[0]);
            close(stop[1]);
            char state = 'x';
            if (!device.empty()) {
                const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
                state = fd >= 0 && (!exclusive || ioctl(fd, TIOCEXCL) == 0) ? 'y' : 'n';
            }
            if (write(ready[1], &state, 1) != 1) _exit(1);
            char byte = 0;
            while (read(stop[0], &byte, 1) > 0) {
            }
            _exit(0);
        }
        close(ready[1]);
        close(stop[0]);
        stop_ = stop[1];
        pollfd wait{ready[0], POLLIN, 0};
        char state = 'n';
        if (pid_ > 0 && poll(&wait, 1, 5000) == 1 && read(ready[0], &state, 1) == 1)
            ready_ = state != 'n';
        close(ready[0]);
    }
    ~OtherProgram() { Stop(); }
    OtherProgram(const OtherProgram&) = delete;
    OtherProgram& operator=(const OtherProgram&) = delete;

    bool Ready() const { return ready_; }
    pid_t Pid() const { return pid_; }
    // Ends the program and waits for it, by its pid, a bounded time.
    void Stop() {
        if (stop_ >= 0) close(stop_);
        stop_ = -1;
        if (pid_ <= 0) return;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (waitpid(pid_, nullptr, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid_, SIGKILL);
                waitpid(pid_, nullptr, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        pid_ = -1;
    }

  private:
    pid_t pid_ = -1;
    int stop_ = -1;
    bool ready_ = false;
};

// The lock file of a pseudo-terminal "pts/N": LCK..pts_N.
std::string LockFile(const PtyPeer& pty) {
    std::string name = pty.PortName();
    for (char& c : name)
        if (c == '/') c = '_';
    return "/var/lock/LCK.." + name;
}

// The HDB content of a lock file: the pid in ten characters and a line feed.
std::string HdbPid(long pid) {
    char text[16];
    std::snprintf(text, sizeof text, "%10ld\n", pid);
    return text;
}

bool WriteText(const std::string& path, const std::string& text) {
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) return false;
    const bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && ok;
}

bool Exists(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0;
}

// Whether the tty is in exclusive mode, asked through a descriptor of its own.
int ExclusiveFlag(const PtyPeer& pty) {
    const int fd = open(pty.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return -1;
    int exclusive = -1;
    if (ioctl(fd, TIOCGEXCL, &exclusive) != 0) exclusive = -1;
    close(fd);
    return exclusive;
}

class Exclusivity : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pty.Ok());
        ASSERT_EQ(geteuid(), 0U) << "root's bypass of TIOCEXCL is what these cases show";
        ASSERT_TRUE(Exists("/var/lock")) << "no lock directory";
        lock = LockFile(pty);
        unlink(lock.c_str());
    }
    void TearDown() override {
        if (handle != 0) PortClose(handle);
        unlink(lock.c_str());
    }
    PtyPeer pty;
    std::string lock;
    PortHandle handle = 0;
};

TEST_F(Exclusivity, AnotherProgramsExclusiveFlagRefusesUsAndSurvives) {
    OtherProgram other(pty.Path(), true);
    ASSERT_TRUE(other.Ready());
    ASSERT_EQ(ExclusiveFlag(pty), 1);

    handle = 77;
    EXPECT_FALSE(PortOpenExclusive(pty.PortName(), &handle));
    EXPECT_EQ(handle, 0U);
    EXPECT_FALSE(PortClose(handle));
    EXPECT_EQ(ExclusiveFlag(pty), 1) << "the other program's flag was cleared";
    EXPECT_FALSE(Exists(lock)) << "a refused open leaves no lock file";
}

TEST_F(Exclusivity, OurCloseClearsOnlyTheFlagWeSet) {
    ASSERT_TRUE(PortOpenExclusive(pty.PortName(), &handle));
    EXPECT_EQ(ExclusiveFlag(pty), 1);
    EXPECT_TRUE(PortClose(handle));
    handle = 0;
    EXPECT_EQ(ExclusiveFlag(pty), 0);
}

TEST_F(Exclusivity, LockFiles) {
    OtherProgram alive("", false);
    ASSERT_TRUE(alive.Ready());
    OtherProgram gone("", false);
    ASSERT_TRUE(gone.Ready());
    const pid_t dead = gone.Pid();
    gone.Stop();

    struct Case {
        const char* what;
        std::string content;  // "" for no lock file
        bool opens;
    };
    const Case cases[] = {
        {"no lock file", "", true},
        {"a live program's lock", HdbPid(alive.Pid()), false},
        {"a live program's lock, without the padding", std::to_string(alive.Pid()) + "\n", false},
        {"a stale lock", HdbPid(dead), true},
        {"a lock that names no pid", "modem in use\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        unlink(lock.c_str());
        if (!c.content.empty()) {
            ASSERT_TRUE(WriteText(lock, c.content));
        }
        handle = 0;
        EXPECT_EQ(PortOpenExclusive(pty.PortName(), &handle), c.opens);
        if (c.opens) {
            EXPECT_EQ(roderavo_test::ReadFile(lock), HdbPid(getpid())) << "ours replaces it";
            EXPECT_TRUE(PortClose(handle));
            EXPECT_FALSE(Exists(lock)) << "our close removes our lock file";
        } else {
            EXPECT_EQ(handle, 0U);
            EXPECT_EQ(roderavo_test::ReadFile(lock), c.content) << "another's lock is left alone";
            EXPECT_EQ(ExclusiveFlag(pty), 0);
        }
        handle = 0;
    }
}

TEST_F(Exclusivity, AFailedOpenRemovesTheLockFileItMade) {
    // Another program holds the device's flock (and no lock file).
    const int fd = open(pty.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    EXPECT_FALSE(PortOpenExclusive(pty.PortName(), &handle));
    EXPECT_FALSE(Exists(lock));
    EXPECT_EQ(ExclusiveFlag(pty), 0) << "a failed open leaves no exclusive flag behind";
    close(fd);
    EXPECT_TRUE(PortOpenExclusive(pty.PortName(), &handle));
}

TEST_F(Exclusivity, OurLockFileKeepsASecondOpenOut) {
    ASSERT_TRUE(PortOpenExclusive(pty.PortName(), &handle));
    PortHandle second = 0;
    EXPECT_FALSE(PortOpenExclusive(pty.PortName(), &second));
    EXPECT_EQ(roderavo_test::ReadFile(lock), HdbPid(getpid())) << "still ours";
    // A lock file that is no longer ours is not removed by our close.
    ASSERT_TRUE(WriteText(lock, HdbPid(1)));
    EXPECT_TRUE(PortClose(handle));
    handle = 0;
    EXPECT_EQ(roderavo_test::ReadFile(lock), HdbPid(1));
}

}  // namespace
