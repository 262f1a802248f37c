// Kept apart: the kernel's termios2 header cannot share a file with <termios.h>.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cstdint>

namespace muxsim {

bool SetCustomBaud(int fd, uint32_t baud) {
    termios2 line{};
    if (ioctl(fd, TCGETS2, &line) != 0) return false;
    line.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    line.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    line.c_ispeed = baud;
    line.c_ospeed = baud;
    return ioctl(fd, TCSETS2, &line) == 0;
}

}  // namespace muxsim
