// Sending a request and receiving a reply on an instance's port.
#include "host/host_services.h"
#include "serial/comm.h"

namespace roderavo {

DriverStatus CommSend(PortHandle handle, std::span<const uint8_t> buffer) {
    if (CommFlush(handle) != SerialStatus::Ok) {
        err(kLogEvent, "VERODI: Fail to flush comm port.");
        return DriverStatus::CommFailure;
    }
    // A short write is not Ok: CommWrite says so.
    if (CommWrite(handle, buffer, nullptr) != SerialStatus::Ok) return DriverStatus::CommFailure;
    return DriverStatus::Ok;
}

bool CommReceive(PortHandle handle, std::span<uint8_t> buffer, uint16_t length) {
    uint16_t count = 0;
    return CommRead(handle, buffer, length, &count) == SerialStatus::Ok && count == length;
}

}  // namespace roderavo
