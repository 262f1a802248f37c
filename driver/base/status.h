// Result codes of the driver's operations and of its serial layer.
#pragma once

#define RODERAVO_TREE_STATUS_H 1  // the tree's own copy, as the layer probes ask

#include <cstdint>

namespace roderavo {

// What an operation gives back, and what the protocol layer tells its callers.
enum class DriverStatus : int32_t {
    Ok = 0,
    Refused = 1,      // refused, rejected, unusable reply
    CommFailure = 2,  // line failure
    NoOperation = 2,  // no such operation: the host sees the same code as a line failure
    // Codes that stay inside the driver.
    SerialFailure = 7,  // a port call failed
    Malformed = 10,     // a reply frame is malformed
    // The dialog.
    DialogRefused = 53,  // dialog busy or not closed with OK
};

// What the serial layer's port routines give back; they never reach the host.
enum class SerialStatus : int32_t {
    Ok = 0,
    OpenFailed = 1,    // not opened, or time-outs not set
    FlushFailed = 1,   // the stale input could not be discarded (the same code)
    ShortWrite = 2,    // fewer bytes written than asked
    NoState = 4,       // current state not readable
    StateRefused = 5,  // new state not applied
    CallFailed = 7,    // close/read/write failed, or no byte read
};

// What every call of the serial layer and of its platform seam gives back: the
// status, and the system's own error of the call that failed (errno on POSIX,
// GetLastError on Windows), or 0 when nothing the system did failed (a read that
// timed out, a state the device does not hold). Tests true when all went well.
struct SerialResult {
    SerialStatus status = SerialStatus::Ok;
    int32_t systemError = 0;

    constexpr explicit operator bool() const { return status == SerialStatus::Ok; }
    constexpr bool operator==(SerialStatus other) const { return status == other; }
    constexpr bool operator==(const SerialResult&) const = default;
};

inline constexpr SerialResult kSerialOk{};

// A failure of one step, named as the step's caller names it; the system's error
// of the step stays with it.
constexpr SerialResult Failed(SerialStatus status, SerialResult step = {}) {
    return {status, step.systemError};
}

// The code the host receives.
constexpr int32_t HostCode(DriverStatus status) {
    return static_cast<int32_t>(status);
}

}  // namespace roderavo
