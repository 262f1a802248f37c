// The platform seam of the serial layer on Win32: each call of port.h is one call
// of the communications API (CreateFileA, GetCommState, SetCommState,
// GetCommTimeouts, SetCommTimeouts, SetupComm, ClearCommError, ReadFile,
// WriteFile, CloseHandle) on a synchronous, exclusively opened device.
//
// Port names are Win32 device names as the host gives them: "COM1" to "COM9",
// "\\.\COM10" and above, "NUL". The handles this module opened are kept in a
// fixed table, so that a call on any other handle fails without touching an
// object that belongs to someone else (a stale handle value may have been given
// to another object since).
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <array>
#include <cstdint>
#include <type_traits>

#include "serial/port.h"

namespace roderavo {

namespace {

inline constexpr std::size_t kMaxOpenPorts = 32;
static_assert(sizeof(DCB) == 28, "the device control block is 28 bytes, its length field says so");
inline constexpr std::size_t kNameSize = 64;

// The one conversion between the layer's PortHandle (a pointer or an integer as
// wide as one) and a Win32 HANDLE.
template <typename To, typename From>
To HandleCast(From value) {
    if constexpr (std::is_pointer_v<To> == std::is_pointer_v<From>)
        return static_cast<To>(value);
    else
        return reinterpret_cast<To>(value);
}

HANDLE ToWin32(PortHandle handle) {
    return HandleCast<HANDLE>(handle);
}

PortHandle FromWin32(HANDLE handle) {
    return HandleCast<PortHandle>(handle);
}

std::array<HANDLE, kMaxOpenPorts> openPorts{};  // nullptr: slot free

HANDLE* SlotOf(HANDLE handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
    for (HANDLE& slot : openPorts)
        if (slot == handle) return &slot;
    return nullptr;
}

// The Win32 handle of a port this module opened, or nullptr.
HANDLE Known(PortHandle handle) {
    const HANDLE* slot = SlotOf(ToWin32(handle));
    return slot == nullptr ? nullptr : *slot;
}

PortLineState FromDcb(const DCB& dcb) {
    PortLineState state{};
    state.BaudRate = dcb.BaudRate;
    state.fBinary = static_cast<uint8_t>(dcb.fBinary);
    state.fParity = static_cast<uint8_t>(dcb.fParity);
    state.fOutxCtsFlow = static_cast<uint8_t>(dcb.fOutxCtsFlow);
    state.fOutxDsrFlow = static_cast<uint8_t>(dcb.fOutxDsrFlow);
    state.fDtrControl = static_cast<uint8_t>(dcb.fDtrControl);
    state.fDsrSensitivity = static_cast<uint8_t>(dcb.fDsrSensitivity);
    state.fTXContinueOnXoff = static_cast<uint8_t>(dcb.fTXContinueOnXoff);
    state.fOutX = static_cast<uint8_t>(dcb.fOutX);
    state.fInX = static_cast<uint8_t>(dcb.fInX);
    state.fErrorChar = static_cast<uint8_t>(dcb.fErrorChar);
    state.fNull = static_cast<uint8_t>(dcb.fNull);
    state.fRtsControl = static_cast<uint8_t>(dcb.fRtsControl);
    state.fAbortOnError = static_cast<uint8_t>(dcb.fAbortOnError);
    state.XonLim = dcb.XonLim;
    state.XoffLim = dcb.XoffLim;
    state.ByteSize = dcb.ByteSize;
    state.Parity = dcb.Parity;
    state.StopBits = dcb.StopBits;
    state.XonChar = static_cast<uint8_t>(dcb.XonChar);
    state.XoffChar = static_cast<uint8_t>(dcb.XoffChar);
    state.ErrorChar = static_cast<uint8_t>(dcb.ErrorChar);
    state.EofChar = static_cast<uint8_t>(dcb.EofChar);
    state.EvtChar = static_cast<uint8_t>(dcb.EvtChar);
    return state;
}

// The block to apply: the device's own, with every field the layer knows set.
// The one-bit fields take bit 0, the two-bit control fields bits 0 and 1.
void ToDcb(const PortLineState& state, DCB& dcb) {
    dcb.BaudRate = state.BaudRate;
    dcb.fBinary = state.fBinary & 1U;
    dcb.fParity = state.fParity & 1U;
    dcb.fOutxCtsFlow = state.fOutxCtsFlow & 1U;
    dcb.fOutxDsrFlow = state.fOutxDsrFlow & 1U;
    dcb.fDtrControl = state.fDtrControl & 3U;
    dcb.fDsrSensitivity = state.fDsrSensitivity & 1U;
    dcb.fTXContinueOnXoff = state.fTXContinueOnXoff & 1U;
    dcb.fOutX = state.fOutX & 1U;
    dcb.fInX = state.fInX & 1U;
    dcb.fErrorChar = state.fErrorChar & 1U;
    dcb.fNull = state.fNull & 1U;
    dcb.fRtsControl = state.fRtsControl & 3U;
    dcb.fAbortOnError = state.fAbortOnError & 1U;
    dcb.XonLim = state.XonLim;
    dcb.XoffLim = state.XoffLim;
    dcb.ByteSize = state.ByteSize;
    dcb.Parity = state.Parity;
    dcb.StopBits = state.StopBits;
    dcb.XonChar = static_cast<char>(state.XonChar);
    dcb.XoffChar = static_cast<char>(state.XoffChar);
    dcb.ErrorChar = static_cast<char>(state.ErrorChar);
    dcb.EofChar = static_cast<char>(state.EofChar);
    dcb.EvtChar = static_cast<char>(state.EvtChar);
}

bool ReadDcb(HANDLE port, DCB& dcb) {
    dcb = DCB{};
    dcb.DCBlength = sizeof(DCB);
    return GetCommState(port, &dcb) != FALSE;
}

}  // namespace

bool PortOpenExclusive(std::string_view name, PortHandle* handle) {
    if (handle == nullptr) return false;
    *handle = FromWin32(nullptr);
    std::array<char, kNameSize> path{};
    if (name.empty() || name.size() >= path.size()) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '\0') return false;
        path[i] = name[i];
    }
    HANDLE* slot = nullptr;
    for (HANDLE& candidate : openPorts) {
        if (candidate == nullptr) {
            slot = &candidate;
            break;
        }
    }
    if (slot == nullptr) return false;
    const HANDLE opened = CreateFileA(path.data(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE || opened == nullptr) return false;
    *slot = opened;
    *handle = FromWin32(opened);
    return true;
}

bool PortClose(PortHandle handle) {
    HANDLE* slot = SlotOf(ToWin32(handle));
    if (slot == nullptr) return false;
    const HANDLE port = *slot;
    *slot = nullptr;
    return CloseHandle(port) != FALSE;
}

bool PortGetState(PortHandle handle, PortLineState* state) {
    const HANDLE port = Known(handle);
    DCB dcb;
    if (port == nullptr || state == nullptr || !ReadDcb(port, dcb)) return false;
    *state = FromDcb(dcb);
    return true;
}

bool PortSetState(PortHandle handle, const PortLineState& state) {
    const HANDLE port = Known(handle);
    DCB previous;
    if (port == nullptr || !ReadDcb(port, previous)) return false;
    DCB next = previous;
    ToDcb(state, next);
    if (SetCommState(port, &next) != FALSE) return true;
    // A refused block may have been applied in part: put the previous one back.
    SetCommState(port, &previous);
    return false;
}

bool PortGetTimeouts(PortHandle handle, PortTimeouts* timeouts) {
    const HANDLE port = Known(handle);
    COMMTIMEOUTS t{};
    if (port == nullptr || timeouts == nullptr || GetCommTimeouts(port, &t) == FALSE) return false;
    *timeouts = PortTimeouts{t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier,
                             t.ReadTotalTimeoutConstant, t.WriteTotalTimeoutMultiplier,
                             t.WriteTotalTimeoutConstant};
    return true;
}

bool PortSetTimeouts(PortHandle handle, const PortTimeouts& timeouts) {
    const HANDLE port = Known(handle);
    // The interval time-out is not taken, as on POSIX: every read is bounded by its
    // total time-outs.
    if (port == nullptr || timeouts.ReadIntervalTimeout != 0) return false;
    COMMTIMEOUTS t{timeouts.ReadIntervalTimeout, timeouts.ReadTotalTimeoutMultiplier,
                   timeouts.ReadTotalTimeoutConstant, timeouts.WriteTotalTimeoutMultiplier,
                   timeouts.WriteTotalTimeoutConstant};
    return SetCommTimeouts(port, &t) != FALSE;
}

bool PortSetQueueSizes(PortHandle handle, uint32_t inputSize, uint32_t outputSize) {
    const HANDLE port = Known(handle);
    return port != nullptr && SetupComm(port, inputSize, outputSize) != FALSE;
}

bool PortClearErrors(PortHandle handle, uint32_t* inputQueued) {
    const HANDLE port = Known(handle);
    DWORD errors = 0;
    COMSTAT status{};
    if (port == nullptr || inputQueued == nullptr ||
        ClearCommError(port, &errors, &status) == FALSE)
        return false;
    *inputQueued = status.cbInQue;
    return true;
}

bool PortRead(PortHandle handle, uint8_t* buffer, uint32_t length, uint32_t* received) {
    const HANDLE port = Known(handle);
    if (port == nullptr || received == nullptr || (buffer == nullptr && length != 0)) return false;
    *received = 0;
    DWORD count = 0;
    if (ReadFile(port, buffer, length, &count, nullptr) == FALSE) return false;
    *received = count;
    return true;
}

bool PortWrite(PortHandle handle, const uint8_t* buffer, uint32_t length, uint32_t* written) {
    const HANDLE port = Known(handle);
    if (port == nullptr || written == nullptr || (buffer == nullptr && length != 0)) return false;
    *written = 0;
    DWORD count = 0;
    if (WriteFile(port, buffer, length, &count, nullptr) == FALSE) return false;
    *written = count;
    return true;
}

}  // namespace roderavo
