// Taking a device for exclusive use on POSIX, and giving it back: the one place
// where the exclusivity rules are kept. The driver's PortOpenExclusive takes its
// ports through it, and so does the host tool's protocol tap (which holds the real
// device and gives the driver a pseudo-terminal), so that both refuse and hold a
// device alike.
//
// A device is refused when a UUCP lock file names a running program (a stale one
// is removed; see uucp_lock.h), when another program holds the tty in exclusive
// mode (TIOCEXCL, which root's opens pass, so the flag is asked for after opening,
// before the device is taken), or when another open holds its flock. Taking it
// creates our lock file, an exclusive flock (which root's opens meet as well) and
// TIOCEXCL; giving it back clears TIOCEXCL (only when we set it) and removes the
// lock file (only while it names this process). A refused or failed claim leaves
// nothing behind, so no other program's flag or lock file is ever cleared.
//
// No allocation, no exceptions; ReleaseClaimAtOnce is async-signal-safe.
#pragma once

#include "serial/posix/uucp_lock.h"

namespace roderavo::posix {

enum class ClaimResult {
    Claimed,
    Locked,     // a lock file names a running process, or no pid that can be read
    Exclusive,  // another program holds the tty in exclusive mode
    Flocked,    // another open of the device holds its flock
    Failed,     // the device did not open, or refused the flock or TIOCEXCL (errno says)
};

struct DeviceClaim {
    int fd = -1;                // the device, opened non-blocking, never descriptor 0
    bool isTty = false;         // a terminal: TIOCEXCL applies
    bool setExclusive = false;  // we set TIOCEXCL, so the release clears it
    LockPath lock{};            // our lock file, or empty
};

// Opens the device at the zero-terminated path (O_RDWR | O_NOCTTY | O_NONBLOCK |
// O_CLOEXEC). `exclusive` false: only opened (the null device), nothing taken.
// On anything but Claimed the claim is empty and errno is that of the failure:
// EBUSY when Locked or Exclusive, EWOULDBLOCK when Flocked.
ClaimResult ClaimDevice(const char* path, bool exclusive, DeviceClaim& claim);

// Gives back what the claim took (TIOCEXCL, then the lock file: before the close,
// as a pseudo-terminal's number may be handed out again at once after it) and
// closes the descriptor; true when it closed (also when interrupted). The claim
// is empty afterwards.
bool ReleaseClaim(DeviceClaim& claim);

// The same without closing, from a signal handler before the process ends.
void ReleaseClaimAtOnce(const DeviceClaim& claim);

}  // namespace roderavo::posix
