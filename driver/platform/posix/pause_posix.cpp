#include "platform/platform_pause.h"

#include <cerrno>
#include <cstdint>
#include <ctime>

namespace roderavo {

void PlatformPause(uint32_t milliseconds) {
    timespec rest{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
    }
}

}  // namespace roderavo
