// Writing a buffer to a port and reading an exact number of bytes from it.
#include "serial/comm.h"
#include "serial/port.h"

namespace roderavo {

SerialStatus CommWrite(PortHandle handle, std::span<const uint8_t> buffer, uint32_t* written) {
    const auto length = static_cast<uint32_t>(buffer.size());
    uint32_t count = 0;
    if (!PortWrite(handle, buffer.data(), length, &count)) return SerialStatus::CallFailed;
    if (written != nullptr) *written = count;
    return count == length ? SerialStatus::Ok : SerialStatus::ShortWrite;
}

SerialStatus CommRead(PortHandle handle, std::span<uint8_t> buffer, uint16_t length,
                      uint16_t* count) {
    if (count != nullptr) *count = 0;
    // Never past the caller's buffer: a length it cannot hold reads nothing.
    if (length > buffer.size()) return SerialStatus::CallFailed;
    // One read under the port's time-outs waits for the whole piece until its
    // deadline (the read time-out plus twice the piece's wire time) and returns
    // short only when that deadline has passed: the missing rest is not asked for
    // again with a fresh deadline, so a line that trickles cannot stretch it.
    uint32_t received = 0;
    if (!PortRead(handle, buffer.data(), length, &received)) return SerialStatus::CallFailed;
    if (received > length) return SerialStatus::CallFailed;
    if (count != nullptr) *count = static_cast<uint16_t>(received);
    return received == length ? SerialStatus::Ok : SerialStatus::CallFailed;
}

}  // namespace roderavo
