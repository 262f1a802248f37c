// Line speeds by number, beyond the fixed Bxxx rates of termios (Linux: termios2
// with BOTHER). Kept apart because the kernel's termios2 header cannot share a
// file with <termios.h>.
#pragma once

#include <cstdint>

namespace roderavo::posix {

// True where speeds by number can be set at all.
bool CanSetCustomBaud();
// Sets the input and output speed of the tty to any rate; false where the
// platform cannot.
bool SetCustomBaud(int fd, uint32_t baudRate);
// The output speed in bits per second; false where the platform cannot tell.
bool GetCustomBaud(int fd, uint32_t* baudRate);

}  // namespace roderavo::posix
