// Writing a buffer to a port and reading an exact number of bytes from it.
#include "serial/comm.h"
#include "serial/port.h"

namespace roderavo {

SerialResult CommWrite(PortHandle handle, std::span<const uint8_t> buffer, uint32_t* written) {
    const auto length = static_cast<uint32_t>(buffer.size());
    uint32_t count = 0;
    const SerialResult wrote = PortWrite(handle, buffer.data(), length, &count);
    if (!wrote) return Failed(SerialStatus::CallFailed, wrote);
    if (written != nullptr) *written = count;
    return count == length ? kSerialOk : Failed(SerialStatus::ShortWrite);
}

SerialResult CommRead(PortHandle handle, std::span<uint8_t> buffer, uint16_t length,
                      uint16_t* count) {
    if (count != nullptr) *count = 0;
    // Never past the caller's buffer: a length it cannot hold reads nothing.
    if (length > buffer.size()) return Failed(SerialStatus::CallFailed);
    // One read under the port's time-outs waits for the whole piece until its
    // deadline (the read time-out plus twice the piece's wire time) and returns
    // short only when that deadline has passed: the missing rest is not asked for
    // again with a fresh deadline, so a line that trickles cannot stretch it.
    uint32_t received = 0;
    const SerialResult read = PortRead(handle, buffer.data(), length, &received);
    if (!read) return Failed(SerialStatus::CallFailed, read);
    if (received > length) return Failed(SerialStatus::CallFailed);
    if (count != nullptr) *count = static_cast<uint16_t>(received);
    // Short: the time-out passed, which is no failure of the system's.
    return received == length ? kSerialOk : Failed(SerialStatus::CallFailed);
}

}  // namespace roderavo
