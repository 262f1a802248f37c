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
#include "support/other_program.h"
#include "support/pty_peer.h"

namespace {

using namespace roderavo;
using roderavo_test::PtyPeer;

using roderavo_test::Exists;
using roderavo_test::HdbPid;
using roderavo_test::OtherProgram;
using roderavo_test::WriteText;

// The lock file of a pseudo-terminal "pts/N": LCK..pts_N.
std::string LockFile(const PtyPeer& pty) {
    return roderavo_test::LockFileOf(pty.Path());
}

// Whether the tty is in exclusive mode, asked through a descriptor of its own.
int ExclusiveFlag(const PtyPeer& pty) {
    return roderavo_test::ExclusiveFlag(pty.Path());
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
