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

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <string>
#include <thread>

#include "serial/port.h"
#include "serial/posix/uucp_lock.h"
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
        ASSERT_TRUE(Exists(roderavo_test::LockFolder())) << "no lock directory";
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
    const roderavo_test::Zombie zombie;  // ended, not yet reaped by its parent

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
        {"a zombie's lock", HdbPid(zombie.Pid()), true},
        {"a lock that names no pid", "modem in use\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        unlink(lock.c_str());
        if (!c.content.empty()) {
            ASSERT_TRUE(WriteText(lock, c.content));
        }
        handle = 0;
        EXPECT_EQ(static_cast<bool>(PortOpenExclusive(pty.PortName(), &handle)), c.opens);
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

// The lock folder is writable by everyone: what another user plants there is
// refused at once, left as it is, and never waited on (a FIFO held an open, as
// root, until someone wrote into it).
TEST_F(Exclusivity, PlantedLockFilesAreRefusedAtOnce) {
    const std::string fifo = roderavo_test::LockFolder() + "/planted.fifo";
    const std::string target = roderavo_test::LockFolder() + "/planted.lock";
    const auto asNobody = [](const std::string& command) {
        return std::system(
                   ("setpriv --reuid=65534 --regid=65534 --clear-groups sh -c '" + command + "'")
                       .c_str()) == 0;
    };
    struct Case {
        const char* what;
        std::function<bool()> plant;
    };
    const Case cases[] = {
        {"a FIFO", [&] { return asNobody("mkfifo " + lock); }},
        {"a link to a FIFO",
         [&] { return asNobody("mkfifo " + fifo + " && ln -s " + fifo + " " + lock); }},
        {"a link to a stale lock file",
         [&] {
             return WriteText(target, HdbPid(roderavo_test::EndedPid())) &&
                    symlink(target.c_str(), lock.c_str()) == 0;
         }},
        {"a folder", [&] { return mkdir(lock.c_str(), 0777) == 0; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(c.plant());
        auto opening = std::async(std::launch::async, [&] {
            PortHandle opened = 0;
            const bool ok = static_cast<bool>(PortOpenExclusive(pty.PortName(), &opened));
            if (ok) PortClose(opened);
            return ok;
        });
        if (opening.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            ADD_FAILURE() << "the open waits on the planted file";
            const int writer = open(lock.c_str(), O_WRONLY | O_NONBLOCK);  // lets it go
            if (writer >= 0) close(writer);
        }
        EXPECT_FALSE(opening.get());
        struct stat planted {};
        EXPECT_EQ(lstat(lock.c_str(), &planted), 0) << "the planted file was removed";
        rmdir(lock.c_str());
        unlink(lock.c_str());
        unlink(fifo.c_str());
        unlink(target.c_str());
    }
}

posix::LockPath LockPathOf(const std::string& path) {
    posix::LockPath lock{};
    path.copy(lock.data(), lock.size() - 1);
    return lock;
}

// A stale lock file is removed only while it is still the file that was judged
// stale: not when another program has meanwhile put its own in its place.
TEST(UucpLock, AStaleLockIsRemovedOnlyWhileItIsTheFileJudged) {
    const std::string path = roderavo_test::LockFolder() + "/LCK..judged";
    const posix::LockPath lock = LockPathOf(path);
    OtherProgram alive("", false);
    ASSERT_TRUE(alive.Ready());
    for (const bool replaced : {false, true}) {
        SCOPED_TRACE(replaced ? "replaced by a live lock" : "still the stale file");
        ASSERT_TRUE(WriteText(path, HdbPid(roderavo_test::EndedPid())));
        const int judged = open(path.c_str(), O_RDONLY);
        ASSERT_GE(judged, 0);
        if (replaced) {
            unlink(path.c_str());
            ASSERT_TRUE(WriteText(path, HdbPid(alive.Pid())));
        }
        EXPECT_EQ(posix::RemoveIfStillStale(lock, judged), !replaced);
        close(judged);
        EXPECT_EQ(Exists(path), replaced);
        if (replaced) {
            EXPECT_EQ(roderavo_test::ReadFile(path), HdbPid(alive.Pid()));
        }
        unlink(path.c_str());
    }
}

// Two programs take the same stale lock at once, many times over: exactly one
// wins each time, and the lock file left names the winner.
TEST(UucpLock, TwoTakersOfAStaleLockLeaveTheWinnersFile) {
    const std::string path = roderavo_test::LockFolder() + "/LCK..race";
    const posix::LockPath lock = LockPathOf(path);
    struct Outcome {
        pid_t pid;
        posix::LockResult result;
    };
    for (int trial = 0; trial < 300; ++trial) {
        ASSERT_TRUE(WriteText(path, HdbPid(roderavo_test::EndedPid())));
        // Closing `start` lets both go at once; closing `hold` lets them end.
        int start[2];
        int hold[2];
        int outcomes[2];
        ASSERT_EQ(pipe(start), 0);
        ASSERT_EQ(pipe(hold), 0);
        ASSERT_EQ(pipe(outcomes), 0);
        std::array<pid_t, 2> takers{};
        for (pid_t& taker : takers) {
            taker = fork();
            ASSERT_GE(taker, 0);
            if (taker == 0) {
                char end = 0;
                close(start[1]);
                close(hold[1]);
                (void)!read(start[0], &end, 1);
                const Outcome outcome{getpid(), posix::TakeLock(lock)};
                (void)!write(outcomes[1], &outcome, sizeof outcome);
                (void)!read(hold[0], &end, 1);  // holds its lock until told
                _exit(0);
            }
        }
        close(start[0]);
        close(hold[0]);
        close(start[1]);
        std::array<Outcome, 2> got{};
        for (Outcome& outcome : got)
            ASSERT_EQ(read(outcomes[0], &outcome, sizeof outcome),
                      static_cast<ssize_t>(sizeof outcome));
        const int winners = (got[0].result == posix::LockResult::Taken) +
                            (got[1].result == posix::LockResult::Taken);
        EXPECT_EQ(winners, 1) << "trial " << trial;
        const pid_t winner = got[0].result == posix::LockResult::Taken ? got[0].pid : got[1].pid;
        EXPECT_EQ(roderavo_test::ReadFile(path), HdbPid(winner)) << "trial " << trial;
        close(hold[1]);
        close(outcomes[0]);
        close(outcomes[1]);
        for (const pid_t taker : takers) waitpid(taker, nullptr, 0);
        unlink(path.c_str());
        if (HasFailure()) break;
    }
}

}  // namespace
