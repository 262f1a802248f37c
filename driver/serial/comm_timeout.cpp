// Changing the read time-out of an open port.
#include <limits>

#include "serial/comm.h"
#include "serial/line_timing.h"
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
        // Writes wait as long as reads; a read time-out of 0 waits for all the
        // bytes asked for, however long they take.
        timeouts.WriteTotalTimeoutConstant = milliseconds;
        timeouts.ReadTotalTimeoutMultiplier =
            milliseconds == 0 ? 0 : kReadWireFactor * timeouts.WriteTotalTimeoutMultiplier;
        if (!PortSetTimeouts(handle, timeouts)) return 0;
    }
    return previous / 10;
}

}  // namespace roderavo
