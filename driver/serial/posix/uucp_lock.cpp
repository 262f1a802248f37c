#include "serial/posix/uucp_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace roderavo::posix {

namespace {

inline constexpr std::string_view kLockFolder = "/var/lock";
inline constexpr std::string_view kLockName = "/LCK..";
inline constexpr std::string_view kDeviceFolder = "/dev/";
inline constexpr std::size_t kHdbSize = 11;  // ten characters and a line feed
inline constexpr int kAttempts = 3;          // a stale lock removed, a race lost

// The folder of the lock files: /var/lock, or RODERAVO_LOCK_DIR when it names an
// absolute path (the tests keep theirs apart from the machine's). Not honoured in
// a set-user-id program.
std::string_view LockFolder() {
    const char* moved = secure_getenv("RODERAVO_LOCK_DIR");
    if (moved == nullptr || moved[0] != '/') return kLockFolder;
    return moved;
}

bool WriteOurs(const char* path) {
    const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    std::array<char, 2 * kHdbSize> text{};
    const int size =
        std::snprintf(text.data(), text.size(), "%10ld\n", static_cast<long>(getpid()));
    const bool written = size > 0 && write(fd, text.data(), static_cast<std::size_t>(size)) == size;
    const int saved = written ? 0 : (errno != 0 ? errno : ENOSPC);
    close(fd);
    if (!written) {
        unlink(path);
        errno = saved;
    }
    return written;
}

// Opens a lock file for reading. The folder is writable by everyone, so whatever
// stands at the path may be planted: a link is not followed, and the open does not
// wait (a FIFO would hold it until someone writes).
int OpenLockFile(const char* path) {
    return open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
}

// The pid the open lock file names (see LockOwner): only a regular file is read,
// and only as much as an HDB lock file holds.
long OwnerIn(int fd) {
    struct stat file {};
    if (fstat(fd, &file) != 0 || !S_ISREG(file.st_mode)) return 0;
    std::array<char, 2 * kHdbSize> text{};
    const ssize_t size = pread(fd, text.data(), text.size() - 1, 0);
    if (size <= 0) return 0;
    long pid = 0;
    std::size_t at = 0;
    while (at < static_cast<std::size_t>(size) && text[at] == ' ') ++at;
    const std::size_t digits = at;
    while (at < static_cast<std::size_t>(size) && text[at] >= '0' && text[at] <= '9' &&
           pid < INT_MAX / 10)
        pid = pid * 10 + (text[at++] - '0');
    const bool ended = at == static_cast<std::size_t>(size) || text[at] == '\n';
    return at > digits && ended ? pid : 0;
}

// The pid the lock file at the path names (see LockOwner).
long LockOwnerAt(const char* path) {
    const int fd = OpenLockFile(path);
    if (fd < 0) return errno == ENOENT ? -1 : 0;
    const long owner = OwnerIn(fd);
    close(fd);
    return owner;
}

// Whether the process has ended but is not yet reaped (its parent waits for nothing,
// or died first, as in a container whose first process reaps nothing): kill still
// finds it, but it holds nothing any more. Its state in /proc/PID/stat is 'Z'; the
// state follows the name in parentheses, and the name may itself hold a ')', the
// fields after it never do. Without /proc a process that kill finds runs.
bool Zombie(long pid) {
    std::array<char, 32> path{};
    std::snprintf(path.data(), path.size(), "/proc/%ld/stat", pid);
    const int fd = open(path.data(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    std::array<char, 128> text{};
    const ssize_t size = read(fd, text.data(), text.size());
    close(fd);
    if (size <= 0) return false;
    std::size_t state = 0;
    for (std::size_t at = 0; at < static_cast<std::size_t>(size); ++at)
        if (text[at] == ')') state = at + 2;
    return state > 0 && state < static_cast<std::size_t>(size) && text[state] == 'Z';
}

bool Stale(long owner) {
    return owner > 0 && !Running(owner);
}

}  // namespace

bool Running(long pid) {
    const bool exists = kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
    return exists && !Zombie(pid);
}

long LockOwner(const LockPath& lock) {
    return lock[0] == '\0' ? -1 : LockOwnerAt(lock.data());
}

bool LockPathFor(const char* devicePath, LockPath& lock) {
    lock.fill('\0');
    std::array<char, PATH_MAX> real{};
    if (devicePath == nullptr || realpath(devicePath, real.data()) == nullptr) return false;
    std::string_view name(real.data());
    // Compared by hand: starts_with may call the throwing substr, which the driver
    // must not import.
    if (name.size() >= kDeviceFolder.size() &&
        std::equal(kDeviceFolder.begin(), kDeviceFolder.end(), name.begin())) {
        name.remove_prefix(kDeviceFolder.size());
    } else {
        while (!name.empty() && name.front() == '/') name.remove_prefix(1);
    }
    const std::string_view folder = LockFolder();
    if (name.empty() || folder.size() + kLockName.size() + name.size() >= lock.size()) return false;
    std::size_t at = 0;
    for (const char c : folder) lock[at++] = c;
    for (const char c : kLockName) lock[at++] = c;
    for (const char c : name) lock[at++] = c == '/' ? '_' : c;
    return true;
}

bool RemoveIfStillStale(const LockPath& lock, int judged) {
    // One remover at a time: the flock keeps a second one that judged the same file
    // from removing it after the first has put its own in its place.
    if (flock(judged, LOCK_EX | LOCK_NB) != 0) return false;
    struct stat file {};
    struct stat there {};
    const bool same = fstat(judged, &file) == 0 && lstat(lock.data(), &there) == 0 &&
                      file.st_dev == there.st_dev && file.st_ino == there.st_ino;
    const bool removed = same && Stale(OwnerIn(judged)) && unlink(lock.data()) == 0;
    flock(judged, LOCK_UN);
    return removed;
}

LockResult TakeLock(const LockPath& lock) {
    if (lock[0] == '\0') return LockResult::Unavailable;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (WriteOurs(lock.data())) return LockResult::Taken;
        if (errno != EEXIST) return LockResult::Unavailable;
        const int judged = OpenLockFile(lock.data());
        if (judged < 0) {
            if (errno == ENOENT) continue;  // removed meanwhile
            return LockResult::HeldByOther;
        }
        const bool stale = Stale(OwnerIn(judged));
        if (stale) RemoveIfStillStale(lock, judged);
        close(judged);
        if (!stale) return LockResult::HeldByOther;
    }
    return LockResult::HeldByOther;
}

void ReleaseLock(const LockPath& lock) {
    if (lock[0] == '\0') return;
    if (LockOwnerAt(lock.data()) == static_cast<long>(getpid())) unlink(lock.data());
}

}  // namespace roderavo::posix
