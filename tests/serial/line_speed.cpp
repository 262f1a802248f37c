// Apart from <termios.h>, which cannot share a file with the kernel's termios2.
#include "serial/line_speed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace roderavo_test {

uint32_t LineSpeed(int fd) {
    termios2 line{};
    if (ioctl(fd, TCGETS2, &line) != 0) return 0;
    return line.c_ospeed;
}

}  // namespace roderavo_test
