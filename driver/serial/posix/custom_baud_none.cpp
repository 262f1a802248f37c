// Platforms without speeds by number: only the fixed termios rates.
#include "serial/posix/custom_baud.h"

namespace roderavo::posix {

bool CanSetCustomBaud() {
    return false;
}
bool SetCustomBaud(int, uint32_t) {
    return false;
}
bool GetCustomBaud(int, uint32_t*) {
    return false;
}

}  // namespace roderavo::posix
