// Another program on a device, for the exclusivity tests of the driver and of the
// tool: a child process that holds the device open (and sets TIOCEXCL on it when
// asked), and the lock files and flags a test looks at.
#pragma once

#include <sys/types.h>

#include <string>

namespace roderavo_test {

// A child process that opens the device (and sets TIOCEXCL on it when asked), says
// so, and lives until Stop. It keeps none of the test's other descriptors, so that
// it holds the device and nothing else (not a simulator's pty). An empty device: a
// program that holds nothing (a pid for lock files).
class OtherProgram {
  public:
    OtherProgram(const std::string& device, bool exclusive);
    ~OtherProgram() { Stop(); }
    OtherProgram(const OtherProgram&) = delete;
    OtherProgram& operator=(const OtherProgram&) = delete;

    bool Ready() const { return ready_; }
    pid_t Pid() const { return pid_; }
    // Ends the program and waits for it, by its pid, a bounded time.
    void Stop();

  private:
    pid_t pid_ = -1;
    int stop_ = -1;
    bool ready_ = false;
};

// The folder of the lock files the driver uses: RODERAVO_LOCK_DIR (which the
// tests set to a folder of their own), else /var/lock.
std::string LockFolder();
// The lock file of a device path: /dev/pts/N gives <folder>/LCK..pts_N.
std::string LockFileOf(const std::string& devicePath);
// Whether lock files can be made here (the lock directory is there and writable).
bool LockDirectoryWritable();
// The HDB content of a lock file: the pid in ten characters and a line feed.
std::string HdbPid(long pid);
bool WriteText(const std::string& path, const std::string& text);
bool Exists(const std::string& path);
// Whether the tty is in exclusive mode (1, 0), asked through a descriptor of its
// own; -1 when it cannot be asked.
int ExclusiveFlag(const std::string& devicePath);
// A pid that has ended (a child that was started and reaped).
pid_t EndedPid();

// A child that has ended but is not reaped yet (a zombie) while this lives.
class Zombie {
  public:
    Zombie();
    ~Zombie();
    Zombie(const Zombie&) = delete;
    Zombie& operator=(const Zombie&) = delete;
    pid_t Pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
};

}  // namespace roderavo_test
