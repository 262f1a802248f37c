// Discarding the stale input of a port before a request goes out.
#include <array>

#include "serial/comm.h"
#include "serial/port.h"

namespace roderavo {

namespace {
inline constexpr std::size_t kDrainChunk = 512;
inline constexpr uint32_t kDrainReadTimeout = 5;  // x 10 ms
}  // namespace

SerialStatus CommFlush(PortHandle handle) {
    uint32_t waiting = 0;
    bool lastStepOk = PortClearErrors(handle, &waiting);
    if (!lastStepOk || waiting != 0) {
        const uint32_t previous = CommSetReadTimeout(handle, kDrainReadTimeout);
        std::array<uint8_t, kDrainChunk> scratch{};
        for (;;) {
            uint32_t received = 0;
            lastStepOk = PortRead(handle, scratch.data(), kDrainChunk, &received);
            if (!lastStepOk || received < kDrainChunk) break;
        }
        // A previous time-out of 0 cannot be told from a failed query: it stays at 50 ms.
        if (previous != 0) CommSetReadTimeout(handle, previous);
    }
    return lastStepOk ? SerialStatus::Ok : SerialStatus::OpenFailed;
}

}  // namespace roderavo
