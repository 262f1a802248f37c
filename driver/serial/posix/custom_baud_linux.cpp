#include <asm/termbits.h>
#include <sys/ioctl.h>

#include "serial/posix/custom_baud.h"

namespace roderavo::posix {

bool CanSetCustomBaud() {
    return true;
}

bool SetCustomBaud(int fd, uint32_t baudRate) {
    termios2 line{};
    if (ioctl(fd, TCGETS2, &line) != 0) return false;
    line.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    line.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    line.c_ispeed = baudRate;
    line.c_ospeed = baudRate;
    return ioctl(fd, TCSETS2, &line) == 0;
}

bool GetCustomBaud(int fd, uint32_t* baudRate) {
    termios2 line{};
    if (ioctl(fd, TCGETS2, &line) != 0) return false;
    *baudRate = line.c_ospeed;
    return true;
}

}  // namespace roderavo::posix
