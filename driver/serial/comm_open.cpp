// Opening a port into the driver's fixed configuration, and closing it.
#include <array>
#include <cstring>
#include <string_view>

#include "serial/comm.h"
#include "serial/line_timing.h"
#include "serial/port.h"

namespace roderavo {

namespace {

inline constexpr std::size_t kPortNameSize = 12;  // the host's name field, terminator included
inline constexpr uint32_t kOpenReadTimeoutMs = 1000;
inline constexpr uint32_t kQueueSize = 1200;
inline constexpr uint8_t kErrorChar = 0xFC;

// The DTR line: on, handshake or off, the first match wins.
uint8_t DtrControlFrom(uint16_t controlFlags) {
    if ((controlFlags & 0x0001U) != 0 || (controlFlags & 0x0100U) != 0) return kDtrControlEnable;
    if ((controlFlags & 0x8000U) != 0) return kDtrControlHandshake;
    return kDtrControlDisable;
}

// The RTS line: on, handshake, toggle or off, the first match wins.
uint8_t RtsControlFrom(uint16_t controlFlags) {
    if ((controlFlags & 0x0002U) != 0 || (controlFlags & 0x0200U) != 0) return kRtsControlEnable;
    if ((controlFlags & 0x1000U) != 0) return kRtsControlHandshake;
    if ((controlFlags & 0x2000U) != 0) return kRtsControlToggle;
    return kRtsControlDisable;
}

// The failure of a step after the open, as CommOpen reports it: the port is
// closed again, the step's system error kept.
SerialResult CloseAfterFailure(PortHandle handle, SerialStatus status, SerialResult step) {
    PortClose(handle);
    return Failed(status, step);
}

}  // namespace

SerialResult CommOpen(const char* portName, uint16_t baudRate, uint16_t dataBits, uint16_t stopBits,
                      uint16_t parity, uint16_t controlFlags, PortHandle* handle) {
    if (portName == nullptr || handle == nullptr) return Failed(SerialStatus::OpenFailed);
    // A name fills at most 11 of the 12 bytes; one without its terminator names nothing.
    const std::size_t length = strnlen(portName, kPortNameSize);
    if (length == 0 || length == kPortNameSize) return Failed(SerialStatus::OpenFailed);
    const std::string_view name(portName, length);

    PortHandle opened = 0;
    const SerialResult isOpen = PortOpenExclusive(name, &opened);
    *handle = opened;
    if (!isOpen) return Failed(SerialStatus::OpenFailed, isOpen);
    if (name == kNullDeviceName) return kSerialOk;  // it takes no configuration

    PortLineState state{};
    const SerialResult read = PortGetState(opened, &state);
    if (!read) return CloseAfterFailure(opened, SerialStatus::NoState, read);

    // Every wait is bounded: a read by the read time-out plus twice the wire time
    // of what it asks for, a write by its own wire time plus the read time-out.
    const uint32_t characterMs = CharacterTimeMs(baudRate, dataBits, parity, stopBits);
    const PortTimeouts timeouts{0, kReadWireFactor * characterMs, kOpenReadTimeoutMs, characterMs,
                                kOpenReadTimeoutMs};
    const SerialResult timed = PortSetTimeouts(opened, timeouts);
    if (!timed) return CloseAfterFailure(opened, SerialStatus::OpenFailed, timed);

    state.BaudRate = baudRate;
    state.fBinary = 1;
    state.fParity = 1;
    state.fOutxCtsFlow = 0;
    state.fOutxDsrFlow = 0;
    state.fDtrControl = DtrControlFrom(controlFlags);
    state.fDsrSensitivity = 0;
    state.fOutX = 0;
    state.fInX = 0;
    state.fErrorChar = 0;
    state.fNull = 0;
    state.fRtsControl = RtsControlFrom(controlFlags);
    state.fAbortOnError = 0;
    state.ByteSize = static_cast<uint8_t>(dataBits & 0xFFU);
    state.Parity = static_cast<uint8_t>(parity & 0xFFU);
    state.StopBits = static_cast<uint8_t>(stopBits & 0xFFU);
    state.ErrorChar = kErrorChar;
    const SerialResult applied = PortSetState(opened, state);
    if (!applied) return CloseAfterFailure(opened, SerialStatus::StateRefused, applied);

    PortSetQueueSizes(opened, kQueueSize, kQueueSize);
    return kSerialOk;
}

SerialResult CommClose(PortHandle handle) {
    const SerialResult closed = PortClose(handle);
    return closed ? kSerialOk : Failed(SerialStatus::CallFailed, closed);
}

}  // namespace roderavo
