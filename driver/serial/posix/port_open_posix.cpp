// Opening and closing a port on POSIX.
//
// Port names: the 12-byte name holds at most 11 characters, too few for
// /dev/ttyUSB10 or /dev/serial/by-id/..., so a name that begins with "/" is used
// as it stands and any other is looked up under /dev/ ("ttyUSB0", "ttyS1",
// "pts/3"). "NUL", in any case, is the null device, /dev/null.
//
// Exclusive use: a port is refused when a UUCP lock file names a running program
// (a stale one is removed; see uucp_lock.h) or when another program holds the tty
// in exclusive mode (TIOCEXCL, which root's opens pass, so the flag is asked for
// after opening, before the port is taken). Taking it creates our lock file, an
// exclusive flock (which root's opens meet as well) and TIOCEXCL; closing it
// clears TIOCEXCL and removes the lock file, and a failed open undoes what it did,
// so no other program's flag or lock file is ever cleared. The open itself is
// non-blocking, so that it never waits for carrier detect; CLOCAL then makes the
// line ignore the modem status. The descriptor stays non-blocking: reads and
// writes wait through poll, under the port's time-outs.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "serial/port.h"
#include "serial/posix/port_table.h"
#include "serial/posix/uucp_lock.h"

namespace roderavo {

namespace {

inline constexpr std::string_view kDevicePrefix = "/dev/";
inline constexpr std::string_view kNullDevice = "/dev/null";
inline constexpr std::size_t kPathSize = 64;

// Any spelling of the null device's name, as Windows matches device names.
bool IsNullName(std::string_view name) {
    if (name.size() != kNullDeviceName.size()) return false;
    for (std::size_t i = 0; i < kNullDeviceName.size(); ++i) {
        const char c = name[i];
        const char upper = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
        if (upper != kNullDeviceName[i]) return false;
    }
    return true;
}

// The device path of a port name, zero-terminated; false when it does not fit.
bool DevicePath(std::string_view name, std::array<char, kPathSize>& path) {
    path.fill('\0');
    std::string_view prefix;
    if (IsNullName(name)) {
        prefix = kNullDevice;
        name = {};
    } else if (name.front() != '/') {
        prefix = kDevicePrefix;
    }
    if (prefix.size() + name.size() >= path.size()) return false;
    std::size_t at = 0;
    for (const char c : prefix) path[at++] = c;
    for (const char c : name) {
        if (c == '\0') return false;
        path[at++] = c;
    }
    return true;
}

void CloseQuietly(int fd) {
    const int saved = errno;
    close(fd);
    errno = saved;
}

// Descriptor 0 would read as "no port": move it.
int AwayFromZero(int fd) {
    if (fd != 0) return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 1);
    CloseQuietly(fd);
    return moved;
}

// Another program holds the tty in exclusive mode.
bool HeldExclusive(int fd) {
    int exclusive = 0;
    return ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
}

// Takes the opened device for this process; on failure it leaves the device's
// flag as it found it.
bool MakeExclusiveLocal(int fd, bool& setExclusive) {
    setExclusive = false;
    const bool isTty = isatty(fd) != 0;
    if (isTty && HeldExclusive(fd)) return false;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) return false;
    if (!isTty) return true;
    if (ioctl(fd, TIOCEXCL) != 0) return false;
    setExclusive = true;
    termios line{};
    if (tcgetattr(fd, &line) == 0) {
        line.c_cflag |= CLOCAL;
        if (tcsetattr(fd, TCSANOW, &line) == 0) return true;
    }
    ioctl(fd, TIOCNXCL);
    setExclusive = false;
    return false;
}

// The control lines as the device has them, where it has any.
void ReadControlLines(int fd, PortLineState& applied) {
    int lines = 0;
    if (isatty(fd) == 0 || ioctl(fd, TIOCMGET, &lines) != 0) return;
    applied.fDtrControl = (lines & TIOCM_DTR) != 0 ? kDtrControlEnable : kDtrControlDisable;
    applied.fRtsControl = (lines & TIOCM_RTS) != 0 ? kRtsControlEnable : kRtsControlDisable;
}

// The other end of a pseudo-terminal pair (Linux numbers their devices 136..143).
bool IsPseudoTerminal(int fd) {
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISCHR(status.st_mode)) return false;
    const unsigned int number = major(status.st_rdev);
    return number >= 136 && number <= 143;
}

}  // namespace

bool PortOpenExclusive(std::string_view name, PortHandle* handle) {
    if (handle == nullptr) return false;
    *handle = 0;
    std::array<char, kPathSize> path{};
    if (name.empty() || !DevicePath(name, path)) return false;
    const bool isNull = IsNullName(name);

    posix::LockPath lock{};
    if (!isNull) {
        if (!posix::LockPathFor(path.data(), lock)) return false;
        const posix::LockResult taken = posix::TakeLock(lock);
        if (taken == posix::LockResult::HeldByOther) return false;
        if (taken == posix::LockResult::Unavailable) lock.fill('\0');
    }
    const int fd = AwayFromZero(open(path.data(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    bool setExclusive = false;
    posix::OpenPort* port = nullptr;
    if (fd >= 0 && (isNull || MakeExclusiveLocal(fd, setExclusive))) {
        port = posix::AddPort(fd, isNull);
        if (port == nullptr && setExclusive) ioctl(fd, TIOCNXCL);
    }
    if (port == nullptr) {
        const int saved = errno;
        posix::ReleaseLock(lock);  // before the close, as in PortClose
        if (fd >= 0) CloseQuietly(fd);
        errno = saved;
        return false;
    }
    port->isPseudoTerminal = IsPseudoTerminal(fd);
    port->setExclusive = setExclusive;
    port->lock = lock;
    port->applied.fBinary = 1;
    ReadControlLines(fd, port->applied);
    *handle = static_cast<PortHandle>(fd);
    return true;
}

bool PortClose(PortHandle handle) {
    posix::OpenPort* port = posix::FindPort(handle);
    if (port == nullptr) return false;
    const int fd = port->fd;
    const bool setExclusive = port->setExclusive;
    const posix::LockPath lock = port->lock;
    posix::RemovePort(port);
    if (setExclusive) ioctl(fd, TIOCNXCL);
    // The lock file goes first: once the descriptor is closed, a pseudo-terminal's
    // number may be handed to a new one at once, which our lock would then keep
    // from its own user. Until the close, the flock still keeps others out.
    posix::ReleaseLock(lock);
    // The descriptor is released even when close reports an interruption.
    return close(fd) == 0 || errno == EINTR;
}

}  // namespace roderavo
