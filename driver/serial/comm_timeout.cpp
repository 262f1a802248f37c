// Changing the read time-out of an open port.
#include <limits>

#include "serial/comm.h"
#include "serial/port.h"

namespace roderavo {

uint32_t CommSetReadTimeout(PortHandle handle, uint32_t value) {
    PortTimeouts timeouts{};
    if (!PortGetTimeouts(handle, &timeouts)) return 0;
    const uint32_t previous = timeouts.ReadTotalTimeoutConstant;
    // Values beyond the 32-bit range of milliseconds stay at its top.
    constexpr uint32_t kLargest = std::numeric_limits<uint32_t>::max();
    const uint32_t milliseconds = value > kLargest / 10 ? kLargest : value * 10;
    if (milliseconds != previous) {
        timeouts.ReadTotalTimeoutConstant = milliseconds;
        if (!PortSetTimeouts(handle, timeouts)) return 0;
    }
    return previous / 10;
}

}  // namespace roderavo
