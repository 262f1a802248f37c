// Sending a request and receiving a reply on an instance's port.
#include "host/host_services.h"
#include "serial/comm.h"

namespace roderavo {

DriverStatus CommSend(PortHandle handle, std::span<const uint8_t> buffer) {
    if (CommFlush(handle) != kCommOk) {
        err(kLogEvent, "VERODI: Fail to flush comm port.");
        return kStatusCommFailure;
    }
    uint32_t written = 0;
    if (CommWrite(handle, buffer, &written) != kCommOk || written != buffer.size())
        return kStatusCommFailure;
    return kStatusOk;
}

bool CommReceive(PortHandle handle, std::span<uint8_t> buffer, uint16_t length) {
    uint16_t count = 0;
    return CommRead(handle, buffer, length, &count) == kCommOk && count == length;
}

}  // namespace roderavo
