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

SerialResult Refused(DWORD error) {
    return {SerialStatus::CallFailed, static_cast<int32_t>(error)};
}

// The failure of the Win32 call just made: its last error.
SerialResult Win32Failure() {
    const DWORD error = GetLastError();
    return Refused(error != 0 ? error : ERROR_GEN_FAILURE);
}

SerialResult ResultOf(BOOL succeeded) {
    return succeeded != FALSE ? kSerialOk : Win32Failure();
}

// The Win32 handle of a port this module opened, or why there is none.
SerialResult Find(PortHandle handle, HANDLE& port) {
    port = Known(handle);
    return port != nullptr ? kSerialOk : Refused(ERROR_INVALID_HANDLE);
}

}  // namespace

SerialResult PortOpenExclusive(std::string_view name, PortHandle* handle) {
    if (handle == nullptr) return Refused(ERROR_INVALID_PARAMETER);
    *handle = FromWin32(nullptr);
    std::array<char, kNameSize> path{};
    if (name.empty()) return Refused(ERROR_FILE_NOT_FOUND);
    if (name.size() >= path.size()) return Refused(ERROR_FILENAME_EXCED_RANGE);
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '\0') return Refused(ERROR_INVALID_NAME);
        path[i] = name[i];
    }
    HANDLE* slot = nullptr;
    for (HANDLE& candidate : openPorts) {
        if (candidate == nullptr) {
            slot = &candidate;
            break;
        }
    }
    if (slot == nullptr) return Refused(ERROR_TOO_MANY_OPEN_FILES);
    const HANDLE opened = CreateFileA(path.data(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE || opened == nullptr) return Win32Failure();
    *slot = opened;
    *handle = FromWin32(opened);
    return kSerialOk;
}

SerialResult PortClose(PortHandle handle) {
    HANDLE* slot = SlotOf(ToWin32(handle));
    if (slot == nullptr) return Refused(ERROR_INVALID_HANDLE);
    const HANDLE port = *slot;
    *slot = nullptr;
    return ResultOf(CloseHandle(port));
}

SerialResult PortGetState(PortHandle handle, PortLineState* state) {
    HANDLE port = nullptr;
    const SerialResult found = Find(handle, port);
    if (!found) return found;
    DCB dcb;
    if (state == nullptr) return Refused(ERROR_INVALID_PARAMETER);
    if (!ReadDcb(port, dcb)) return Win32Failure();
    *state = FromDcb(dcb);
    return kSerialOk;
}

SerialResult PortSetState(PortHandle handle, const PortLineState& state) {
    HANDLE port = nullptr;
    const SerialResult found = Find(handle, port);
    if (!found) return found;
    DCB previous;
    if (!ReadDcb(port, previous)) return Win32Failure();
    DCB next = previous;
    ToDcb(state, next);
    if (SetCommState(port, &next) != FALSE) return kSerialOk;
    const SerialResult refused = Win32Failure();
    // A refused block may have been applied in part: put the previous one back.
    SetCommState(port, &previous);
    return refused;
}

SerialResult PortGetTimeouts(PortHandle handle, PortTimeouts* timeouts) {
    HANDLE port = nullptr;
    const SerialResult found = Find(handle, port);
    if (!found) return found;
    COMMTIMEOUTS t{};
    if (timeouts == nullptr) return Refused(ERROR_INVALID_PARAMETER);
    if (GetCommTimeouts(port, &t) == FALSE) return Win32Failure();
    *timeouts = PortTimeouts{t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier,
                             t.ReadTotalTimeoutConstant, t.WriteTotalTimeoutMultiplier,
                             t.WriteTotalTimeoutConstant};
    return kSerialOk;
}

SerialResult PortSetTimeouts(PortHandle handle, const PortTimeouts& timeouts) {
    HANDLE port = nullptr;
    const SerialResult found = Find(handle, port);
    if (!found) return found;
    // The interval time-out is not taken, as on POSIX: every read is bounded by its
    // total time-outs.
    if (timeouts.ReadIntervalTimeout != 0) return Refused(ERROR_INVALID_PARAMETER);
    COMMTIMEOUTS t{timeouts.ReadIntervalTimeout, timeouts.ReadTotalTimeoutMultiplier,
                   timeouts.ReadTotalTimeoutConstant, timeouts.WriteTotalTimeoutMultiplier,
                   timeouts.WriteTotalTimeoutConstant};
    return ResultOf(SetCommTimeouts(port, &t));
}

SerialResult PortSetQueueSizes(PortHandle handle, uint32_t inputSize, uint32_t outputSize) {
    HANDLE port = nullptr;
    const SerialResult found = Find(handle, port);
    if (!found) return found;
    return ResultOf(SetupComm(port, inputSize, outputSize));
}

SerialResult PortClearErrors(PortHandle handle, uint32_t* inputQueued) {
    HANDLE port = nullptr;
    const SerialResult found = Find(handle, port);
    if (!found) return found;
    DWORD errors = 0;
    COMSTAT status{};
    if (inputQueued == nullptr) return Refused(ERROR_INVALID_PARAMETER);
    if (ClearCommError(port, &errors, &status) == FALSE) return Win32Failure();
    *inputQueued = status.cbInQue;
    return kSerialOk;
}

SerialResult PortRead(PortHandle handle, uint8_t* buffer, uint32_t length, uint32_t* received) {
    HANDLE port = nullptr;
    const SerialResult found = Find(handle, port);
    if (!found) return found;
    if (received == nullptr || (buffer == nullptr && length != 0))
        return Refused(ERROR_INVALID_PARAMETER);
    *received = 0;
    DWORD count = 0;
    if (ReadFile(port, buffer, length, &count, nullptr) == FALSE) return Win32Failure();
    *received = count;
    return kSerialOk;
}

SerialResult PortWrite(PortHandle handle, const uint8_t* buffer, uint32_t length,
                       uint32_t* written) {
    HANDLE port = nullptr;
    const SerialResult found = Find(handle, port);
    if (!found) return found;
    if (written == nullptr || (buffer == nullptr && length != 0))
        return Refused(ERROR_INVALID_PARAMETER);
    *written = 0;
    DWORD count = 0;
    if (WriteFile(port, buffer, length, &count, nullptr) == FALSE) return Win32Failure();
    *written = count;
    return kSerialOk;
}

void PortSetLastError(int32_t systemError) {
    SetLastError(static_cast<DWORD>(systemError));
}

}  // namespace roderavo
