// The ports this process has open, in a fixed table: the descriptor, and what a
// POSIX descriptor does not keep itself (the time-outs and the control-line
// settings last applied), and what the driver took to hold the port.
#pragma once

#include <array>
#include <cstddef>

#include "serial/port.h"
#include "serial/posix/uucp_lock.h"

namespace roderavo::posix {

inline constexpr std::size_t kMaxOpenPorts = 32;
// Bytes read from the device but not yet handed out: room for a whole reply.
inline constexpr std::size_t kReadAheadSize = 64;

struct OpenPort {
    int fd;                 // -1: slot free
    bool isNull;            // the null device: no line state, no time-outs
    bool isPseudoTerminal;  // holds neither data bits nor parity
    bool setExclusive;      // the driver set TIOCEXCL, so its close clears it
    LockPath lock;          // the UUCP lock file the driver made, or empty
    PortTimeouts timeouts;
    PortLineState applied;  // the state last applied, for fields termios does not hold
    uint64_t characterNs;   // one character's time on the line; 0: not paced
    // When the last byte read from the device came, as far as the line's speed
    // tells (CLOCK_MONOTONIC, ns); 0 after a write: the next byte starts a reply.
    int64_t flowAtNs;
    std::array<uint8_t, kReadAheadSize> ahead;  // read ahead, handed out from aheadAt
    std::size_t aheadAt;
    std::size_t aheadEnd;
};

// The slot of an open handle, or nullptr.
OpenPort* FindPort(PortHandle handle);
// Takes a free slot for the descriptor, or nullptr when all are in use.
OpenPort* AddPort(int fd, bool isNull);
void RemovePort(OpenPort* port);
// The open line of a handle, or why there is none: a handle this backend did not
// open (EBADF), or the null device, which has no line (ENOTTY).
SerialResult FindLine(PortHandle handle, OpenPort*& port);

}  // namespace roderavo::posix
