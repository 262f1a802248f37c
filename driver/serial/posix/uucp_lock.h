// UUCP lock files: the convention by which programs on one machine tell each other
// that a serial device is in use. A program that takes a device creates
// LCK..<name> in the lock folder (/var/lock) holding its pid as ten characters and
// a line feed (the HDB format) and removes it when it lets go; a lock file whose
// pid no longer runs (or has ended and waits to be reaped) is stale and may be
// removed by anyone the folder lets: where the folder is sticky, as it usually is,
// only the file's owner and root, so that a stale lock file of root's keeps other
// users out until root removes it.
//
// The lock folder is writable by everyone: anything found there may have been
// planted. A link is never followed, only a regular file is read (and no more than
// a lock file holds), no open waits, and a stale lock file is removed only while it
// is still the very file that was judged stale. Anything that cannot be read as a
// lock file counts as held.
//
// The name: the device's real path (links resolved) below /dev/, with every "/"
// written as "_": /dev/ttyS0 gives LCK..ttyS0, /dev/ttyUSB0 LCK..ttyUSB0, and the
// pseudo-terminal /dev/pts/3 gives LCK..pts_3, so that it cannot share a lock with
// a device /dev/3. A device outside /dev/ is named by its whole path the same way.
#pragma once

#include <array>
#include <cstddef>

namespace roderavo::posix {

inline constexpr std::size_t kLockPathSize = 256;
// A zero-terminated lock file path; empty (first byte 0) for no lock file.
using LockPath = std::array<char, kLockPathSize>;

// The lock file of the device at the path, zero-filled beyond its end; false when
// the device cannot be resolved or its lock file's path does not fit.
bool LockPathFor(const char* devicePath, LockPath& lock);

enum class LockResult {
    Taken,        // the lock file now names this process
    HeldByOther,  // it names a running process, or no pid that can be read
    Unavailable,  // the lock directory is missing or not writable: no lock file
};

// The pid the lock file names: > 0, 0 when it names none that can be read (or
// cannot be read: a link, a FIFO, anything but a regular file), -1 when there is no
// lock file.
long LockOwner(const LockPath& lock);
// Whether the process runs, whoever owns it; one that has ended but is not yet
// reaped (a zombie) does not.
bool Running(long pid);

// Takes the lock: removes a stale lock file, then creates ours.
LockResult TakeLock(const LockPath& lock);
// Removes the lock file that `judged` (an open descriptor of it) was found stale
// through, only while the path still names that file and it is still stale; false
// when it left it (another program removed it, or put its own in its place).
bool RemoveIfStillStale(const LockPath& lock, int judged);
// Removes the lock file when it still names this process.
void ReleaseLock(const LockPath& lock);

}  // namespace roderavo::posix
