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
    uint16_t total = 0;
    while (total < length) {
        const auto missing = static_cast<uint16_t>(length - total);
        uint32_t received = 0;
        if (!PortRead(handle, buffer.data() + total, missing, &received))
            return SerialStatus::CallFailed;
        if (received == 0 || received > missing) return SerialStatus::CallFailed;
        total = static_cast<uint16_t>(total + received);
        if (count != nullptr) *count = total;
    }
    return SerialStatus::Ok;
}

}  // namespace roderavo
