#include "serial/posix/uucp_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
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

inline constexpr std::string_view kLockPrefix = "/var/lock/LCK..";
inline constexpr std::string_view kDeviceFolder = "/dev/";
inline constexpr std::size_t kHdbSize = 11;  // ten characters and a line feed
inline constexpr int kAttempts = 3;          // a stale lock removed, a race lost

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

// The pid the lock file at the path names (see LockOwner).
long LockOwnerAt(const char* path) {
    const int fd = open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? -1 : 0;
    std::array<char, 2 * kHdbSize> text{};
    const ssize_t size = read(fd, text.data(), text.size() - 1);
    close(fd);
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

}  // namespace

bool Running(long pid) {
    return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
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
    if (name.empty() || kLockPrefix.size() + name.size() >= lock.size()) return false;
    std::size_t at = 0;
    for (const char c : kLockPrefix) lock[at++] = c;
    for (const char c : name) lock[at++] = c == '/' ? '_' : c;
    return true;
}

LockResult TakeLock(const LockPath& lock) {
    if (lock[0] == '\0') return LockResult::Unavailable;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (WriteOurs(lock.data())) return LockResult::Taken;
        if (errno != EEXIST) return LockResult::Unavailable;
        const long owner = LockOwnerAt(lock.data());
        if (owner == 0 || (owner > 0 && Running(owner))) return LockResult::HeldByOther;
        if (owner > 0 && unlink(lock.data()) != 0 && errno != ENOENT)
            return LockResult::HeldByOther;
    }
    return LockResult::HeldByOther;
}

void ReleaseLock(const LockPath& lock) {
    if (lock[0] == '\0') return;
    if (LockOwnerAt(lock.data()) == static_cast<long>(getpid())) unlink(lock.data());
}

}  // namespace roderavo::posix
