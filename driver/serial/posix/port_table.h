// The ports this process has open, in a fixed table: the descriptor, and what a
// POSIX descriptor does not keep itself (the time-outs and the control-line
// settings last applied).
#pragma once

#include <cstddef>

#include "serial/port.h"

namespace roderavo::posix {

inline constexpr std::size_t kMaxOpenPorts = 32;

struct OpenPort {
    int fd;                 // -1: slot free
    bool isNull;            // the null device: no line state, no time-outs
    bool isPseudoTerminal;  // holds neither data bits nor parity
    PortTimeouts timeouts;
    PortLineState applied;  // the state last applied, for fields termios does not hold
};

// The slot of an open handle, or nullptr.
OpenPort* FindPort(PortHandle handle);
// Takes a free slot for the descriptor, or nullptr when all are in use.
OpenPort* AddPort(int fd, bool isNull);
void RemovePort(OpenPort* port);

}  // namespace roderavo::posix
