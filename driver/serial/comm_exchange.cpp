// Sending a request and receiving a reply on an instance's port, and what the
// host sees when the line fails.
#include "host/host_services.h"
#include "serial/comm.h"
#include "serial/port.h"

namespace roderavo {

SerialResult CommSend(PortHandle handle, std::span<const uint8_t> buffer) {
    const SerialResult flushed = CommFlush(handle);
    if (!flushed) {
        err(kLogEvent, "VERODI: Fail to flush comm port.");
        return flushed;
    }
    // A short write is not Ok: CommWrite says so.
    return CommWrite(handle, buffer, nullptr);
}

SerialResult CommReceive(PortHandle handle, std::span<uint8_t> buffer, uint16_t length) {
    uint16_t count = 0;
    const SerialResult read = CommRead(handle, buffer, length, &count);
    if (read && count != length) return Failed(SerialStatus::CallFailed);
    return read;
}

void CommSetLastError(int32_t systemError) {
    PortSetLastError(systemError);
}

DriverStatus CommFailed(const SerialResult& failure) {
    CommSetLastError(failure.systemError);
    return DriverStatus::CommFailure;
}

}  // namespace roderavo
