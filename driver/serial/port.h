// The platform seam under the serial port layer: what the operating system's
// communications interface offers, one call each, in portable types. The portable
// layer (comm_*.cpp) is written once against these calls; each platform supplies
// them in its own folder (posix/ now, a Win32 folder that maps them one to one on
// CreateFileA, GetCommState, SetCommState, GetCommTimeouts, SetCommTimeouts,
// SetupComm, ClearCommError, ReadFile, WriteFile and CloseHandle).
//
// Every call gives back a SerialResult: Ok, or CallFailed with the system's error
// of the call that failed (errno, GetLastError), so that a caller can tell a
// device that is missing from one that is busy or one that was pulled out. Where
// the backend itself refuses, it names the system's error that fits (a handle
// it did not open: EBADF or ERROR_INVALID_HANDLE; a setting the device cannot
// take: EINVAL or ERROR_INVALID_PARAMETER; a device that another program holds:
// EBUSY, EWOULDBLOCK or ERROR_ACCESS_DENIED).
//
// Every call on a handle that the seam did not open fails.
#pragma once

#include <cstdint>
#include <string_view>

#include "serial/comm.h"

namespace roderavo {

// The line state of a port: the device control block fields the driver reads and
// changes, with the values and meanings of the Win32 DCB.
struct PortLineState {
    uint32_t BaudRate;  // bits per second
    uint8_t fBinary;
    uint8_t fParity;  // parity checking on input
    uint8_t fOutxCtsFlow;
    uint8_t fOutxDsrFlow;
    uint8_t fDtrControl;  // kDtrControl*
    uint8_t fDsrSensitivity;
    uint8_t fTXContinueOnXoff;
    uint8_t fOutX;  // software flow control on output
    uint8_t fInX;   // software flow control on input
    uint8_t fErrorChar;
    uint8_t fNull;
    uint8_t fRtsControl;  // kRtsControl*
    uint8_t fAbortOnError;
    uint16_t XonLim;
    uint16_t XoffLim;
    uint8_t ByteSize;  // data bits, 5 to 8
    uint8_t Parity;    // kParity*
    uint8_t StopBits;  // kStopBits*
    uint8_t XonChar;
    uint8_t XoffChar;
    uint8_t ErrorChar;
    uint8_t EofChar;
    uint8_t EvtChar;
};

inline constexpr uint8_t kDtrControlDisable = 0;
inline constexpr uint8_t kDtrControlEnable = 1;
inline constexpr uint8_t kDtrControlHandshake = 2;
inline constexpr uint8_t kRtsControlDisable = 0;
inline constexpr uint8_t kRtsControlEnable = 1;
inline constexpr uint8_t kRtsControlHandshake = 2;
inline constexpr uint8_t kRtsControlToggle = 3;

inline constexpr uint8_t kParityNone = 0;
inline constexpr uint8_t kParityOdd = 1;
inline constexpr uint8_t kParityEven = 2;
inline constexpr uint8_t kParityMark = 3;
inline constexpr uint8_t kParitySpace = 4;

inline constexpr uint8_t kStopBitsOne = 0;
inline constexpr uint8_t kStopBitsOneAndHalf = 1;
inline constexpr uint8_t kStopBitsTwo = 2;

// The time-outs of a port, in milliseconds, with the meanings of Win32's
// COMMTIMEOUTS, but for ReadIntervalTimeout, which must be 0 (PortSetTimeouts
// fails otherwise): a read returns when all asked bytes are there or when
// ReadTotalTimeoutMultiplier x length + ReadTotalTimeoutConstant has passed since
// it began, with what arrived by then; with both 0 it waits until all asked bytes
// are there.
struct PortTimeouts {
    uint32_t ReadIntervalTimeout;
    uint32_t ReadTotalTimeoutMultiplier;
    uint32_t ReadTotalTimeoutConstant;
    uint32_t WriteTotalTimeoutMultiplier;
    uint32_t WriteTotalTimeoutConstant;
};

// Opens the named device for reading and writing, for exclusive use, only if it
// exists. The name is the port name as the host gave it. The handle is never 0.
SerialResult PortOpenExclusive(std::string_view name, PortHandle* handle);
SerialResult PortClose(PortHandle handle);

SerialResult PortGetState(PortHandle handle, PortLineState* state);
// Fails, changing nothing, when the device cannot take the state as a whole.
SerialResult PortSetState(PortHandle handle, const PortLineState& state);

SerialResult PortGetTimeouts(PortHandle handle, PortTimeouts* timeouts);
SerialResult PortSetTimeouts(PortHandle handle, const PortTimeouts& timeouts);

// The sizes of the driver's input and output queues.
SerialResult PortSetQueueSizes(PortHandle handle, uint32_t inputSize, uint32_t outputSize);

// Clears the line's error state and reports the bytes waiting in the input queue.
SerialResult PortClearErrors(PortHandle handle, uint32_t* inputQueued);

// One read under the port's time-outs; a short count is not a failure.
SerialResult PortRead(PortHandle handle, uint8_t* buffer, uint32_t length, uint32_t* received);
// One write of all the bytes; a short count is not a failure.
SerialResult PortWrite(PortHandle handle, const uint8_t* buffer, uint32_t length,
                       uint32_t* written);

// Sets the calling thread's last error (errno, SetLastError).
void PortSetLastError(int32_t systemError);

}  // namespace roderavo
