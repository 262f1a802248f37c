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

SerialStatus CloseAfterFailure(PortHandle handle, SerialStatus result) {
    PortClose(handle);
    return result;
}

}  // namespace

SerialStatus CommOpen(const char* portName, uint16_t baudRate, uint16_t dataBits, uint16_t stopBits,
                      uint16_t parity, uint16_t controlFlags, PortHandle* handle) {
    if (portName == nullptr || handle == nullptr) return SerialStatus::OpenFailed;
    // A name fills at most 11 of the 12 bytes; one without its terminator names nothing.
    const std::size_t length = strnlen(portName, kPortNameSize);
    if (length == 0 || length == kPortNameSize) return SerialStatus::OpenFailed;
    const std::string_view name(portName, length);

    PortHandle opened = 0;
    const bool isOpen = PortOpenExclusive(name, &opened);
    *handle = opened;
    if (!isOpen) return SerialStatus::OpenFailed;
    if (name == kNullDeviceName) return SerialStatus::Ok;  // it takes no configuration

    PortLineState state{};
    if (!PortGetState(opened, &state)) return CloseAfterFailure(opened, SerialStatus::NoState);

    // Every wait is bounded: a read by the read time-out plus twice the wire time
    // of what it asks for, a write by its own wire time plus the read time-out.
    const uint32_t characterMs = CharacterTimeMs(baudRate, dataBits, parity, stopBits);
    const PortTimeouts timeouts{0, kReadWireFactor * characterMs, kOpenReadTimeoutMs, characterMs,
                                kOpenReadTimeoutMs};
    if (!PortSetTimeouts(opened, timeouts))
        return CloseAfterFailure(opened, SerialStatus::OpenFailed);

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
    if (!PortSetState(opened, state)) return CloseAfterFailure(opened, SerialStatus::StateRefused);

    PortSetQueueSizes(opened, kQueueSize, kQueueSize);
    return SerialStatus::Ok;
}

SerialStatus CommClose(PortHandle handle) {
    return PortClose(handle) ? SerialStatus::Ok : SerialStatus::CallFailed;
}

}  // namespace roderavo
