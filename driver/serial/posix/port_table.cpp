#include "serial/posix/port_table.h"

#include <array>

#include "serial/posix/posix_result.h"

namespace roderavo::posix {

namespace {

constexpr OpenPort kFreeSlot{-1, false, false, false, {}, {}, {}, 0, 0, {}, 0, 0};

constinit std::array<OpenPort, kMaxOpenPorts> openPorts = [] {
    std::array<OpenPort, kMaxOpenPorts> slots{};
    slots.fill(kFreeSlot);
    return slots;
}();

}  // namespace

OpenPort* FindPort(PortHandle handle) {
    if (handle == 0) return nullptr;
    for (OpenPort& port : openPorts)
        if (port.fd >= 0 && static_cast<PortHandle>(port.fd) == handle) return &port;
    return nullptr;
}

OpenPort* AddPort(int fd, bool isNull) {
    for (OpenPort& port : openPorts) {
        if (port.fd < 0) {
            port = kFreeSlot;
            port.fd = fd;
            port.isNull = isNull;
            return &port;
        }
    }
    return nullptr;
}

void RemovePort(OpenPort* port) {
    if (port != nullptr) *port = kFreeSlot;
}

SerialResult FindLine(PortHandle handle, OpenPort*& port) {
    port = FindPort(handle);
    if (port == nullptr) return Refused(EBADF);
    return port->isNull ? Refused(ENOTTY) : kSerialOk;
}

}  // namespace roderavo::posix
