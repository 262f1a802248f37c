#include "serial/posix/device_claim.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

namespace roderavo::posix {

namespace {

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
ClaimResult TakeOpened(DeviceClaim& claim) {
    claim.isTty = isatty(claim.fd) != 0;
    if (claim.isTty && HeldExclusive(claim.fd)) return ClaimResult::Exclusive;
    if (flock(claim.fd, LOCK_EX | LOCK_NB) != 0)
        return errno == EWOULDBLOCK ? ClaimResult::Flocked : ClaimResult::Failed;
    if (!claim.isTty) return ClaimResult::Claimed;
    if (ioctl(claim.fd, TIOCEXCL) != 0) return ClaimResult::Failed;
    claim.setExclusive = true;
    return ClaimResult::Claimed;
}

}  // namespace

ClaimResult ClaimDevice(const char* path, bool exclusive, DeviceClaim& claim) {
    claim = DeviceClaim{};
    if (exclusive) {
        if (!LockPathFor(path, claim.lock)) return ClaimResult::Failed;
        const LockResult taken = TakeLock(claim.lock);
        if (taken == LockResult::HeldByOther) {
            claim.lock.fill('\0');
            errno = EBUSY;
            return ClaimResult::Locked;
        }
        if (taken == LockResult::Unavailable) claim.lock.fill('\0');
    }
    claim.fd = AwayFromZero(open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    const ClaimResult result =
        claim.fd < 0 ? ClaimResult::Failed : (exclusive ? TakeOpened(claim) : ClaimResult::Claimed);
    if (result == ClaimResult::Exclusive) errno = EBUSY;      // as a user's open of it fails
    if (result == ClaimResult::Flocked) errno = EWOULDBLOCK;  // as flock says
    if (result != ClaimResult::Claimed) {
        const int saved = errno;
        ReleaseClaim(claim);
        errno = saved;
    }
    return result;
}

void ReleaseClaimAtOnce(const DeviceClaim& claim) {
    if (claim.setExclusive && claim.fd >= 0) ioctl(claim.fd, TIOCNXCL);
    // The lock file goes first: once the descriptor is closed, a pseudo-terminal's
    // number may be handed to a new one at once, which our lock would then keep
    // from its own user. Until the close, the flock still keeps others out.
    ReleaseLock(claim.lock);
}

bool ReleaseClaim(DeviceClaim& claim) {
    ReleaseClaimAtOnce(claim);
    const int fd = claim.fd;
    claim = DeviceClaim{};
    if (fd < 0) return true;
    // The descriptor is released even when close reports an interruption.
    return close(fd) == 0 || errno == EINTR;
}

}  // namespace roderavo::posix
