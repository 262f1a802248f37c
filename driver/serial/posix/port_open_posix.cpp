// Opening and closing a port on POSIX.
//
// Port names: the 12-byte name holds at most 11 characters, too few for
// /dev/ttyUSB10 or /dev/serial/by-id/..., so a name that begins with "/" is used
// as it stands and any other is looked up under /dev/ ("ttyUSB0", "ttyS1",
// "pts/3"). "NUL", in any case, is the null device, /dev/null.
//
// Exclusive use: a port is taken through ClaimDevice (device_claim.h), which
// keeps the rules (lock files, TIOCEXCL, flock) for the driver and the host tool
// alike; closing it gives back what the claim took, and a failed open undoes what
// it did. The open itself is non-blocking, so that it never waits for carrier
// detect; CLOCAL then makes the line ignore the modem status. The descriptor stays
// non-blocking: reads and writes wait through poll, under the port's time-outs.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "serial/port.h"
#include "serial/posix/device_claim.h"
#include "serial/posix/port_table.h"
#include "serial/posix/posix_result.h"

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

// Sets CLOCAL on a claimed terminal; false when the device refuses.
bool IgnoreModemStatus(const posix::DeviceClaim& claim) {
    if (!claim.isTty) return true;
    termios line{};
    if (tcgetattr(claim.fd, &line) != 0) return false;
    line.c_cflag |= CLOCAL;
    return tcsetattr(claim.fd, TCSANOW, &line) == 0;
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

SerialResult PortOpenExclusive(std::string_view name, PortHandle* handle) {
    if (handle == nullptr) return posix::Refused(EINVAL);
    *handle = 0;
    std::array<char, kPathSize> path{};
    if (name.empty()) return posix::Refused(ENOENT);
    if (!DevicePath(name, path)) return posix::Refused(ENAMETOOLONG);
    const bool isNull = IsNullName(name);

    posix::DeviceClaim claim;
    errno = 0;
    if (posix::ClaimDevice(path.data(), !isNull, claim) != posix::ClaimResult::Claimed)
        return posix::SystemFailure();  // errno names the holder's kind
    posix::OpenPort* port = nullptr;
    errno = 0;
    if (isNull || IgnoreModemStatus(claim)) {
        port = posix::AddPort(claim.fd, isNull);
        if (port == nullptr) errno = EMFILE;  // every slot of the table is taken
    }
    if (port == nullptr) {
        const SerialResult failure = posix::SystemFailure();
        posix::ReleaseClaim(claim);
        return failure;
    }
    const int fd = claim.fd;
    port->isPseudoTerminal = IsPseudoTerminal(fd);
    port->setExclusive = claim.setExclusive;
    port->lock = claim.lock;
    port->applied.fBinary = 1;
    ReadControlLines(fd, port->applied);
    *handle = static_cast<PortHandle>(fd);
    return kSerialOk;
}

SerialResult PortClose(PortHandle handle) {
    posix::OpenPort* port = posix::FindPort(handle);
    if (port == nullptr) return posix::Refused(EBADF);
    posix::DeviceClaim claim;
    claim.fd = port->fd;
    claim.setExclusive = port->setExclusive;
    claim.lock = port->lock;
    posix::RemovePort(port);
    return posix::ResultOf(posix::ReleaseClaim(claim));
}

void PortSetLastError(int32_t systemError) {
    errno = systemError;
}

}  // namespace roderavo
