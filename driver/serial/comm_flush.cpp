// Discarding the stale input of a port before a request goes out.
#include <algorithm>
#include <array>

#include "serial/comm.h"
#include "serial/port.h"

namespace roderavo {

namespace {

inline constexpr std::size_t kDrainChunk = 512;
inline constexpr uint32_t kDrainReadTimeoutMs = 50;
// The drain takes at most what the driver's input and output queues hold...
inline constexpr std::size_t kDrainLimit = 2 * 1200;
inline constexpr uint32_t kDrainChunksByBytes = (kDrainLimit + kDrainChunk - 1) / kDrainChunk;

// ...and waits no longer than one read time-out: a line that keeps babbling
// cannot hold the call. What is left is turned away by the reply checks.
uint32_t DrainChunks(const PortTimeouts& previous) {
    const uint32_t byTime =
        std::max<uint32_t>(1, previous.ReadTotalTimeoutConstant / kDrainReadTimeoutMs);
    return std::min(kDrainChunksByBytes, byTime);
}

}  // namespace

SerialResult CommFlush(PortHandle handle) {
    uint32_t waiting = 0;
    SerialResult lastStep = PortClearErrors(handle, &waiting);
    if (!lastStep || waiting != 0) {
        PortTimeouts previous{};
        const bool known = static_cast<bool>(PortGetTimeouts(handle, &previous));
        PortTimeouts drain = previous;
        drain.ReadIntervalTimeout = 0;
        drain.ReadTotalTimeoutMultiplier = 0;
        drain.ReadTotalTimeoutConstant = kDrainReadTimeoutMs;
        if (known) PortSetTimeouts(handle, drain);
        std::array<uint8_t, kDrainChunk> scratch{};
        const uint32_t chunks = known ? DrainChunks(previous) : kDrainChunksByBytes;
        for (uint32_t chunk = 0; chunk < chunks; ++chunk) {
            uint32_t received = 0;
            lastStep = PortRead(handle, scratch.data(), kDrainChunk, &received);
            if (!lastStep || received < kDrainChunk) break;
        }
        // A previous time-out below 10 ms (or 0) is not put back: the 50 ms stay.
        if (known && previous.ReadTotalTimeoutConstant / 10 != 0) PortSetTimeouts(handle, previous);
    }
    return lastStep ? kSerialOk : Failed(SerialStatus::FlushFailed, lastStep);
}

}  // namespace roderavo
