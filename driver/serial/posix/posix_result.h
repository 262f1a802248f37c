// The results of the POSIX backend: the system's error of the call that failed,
// or the errno that names what the backend itself refuses.
#pragma once

#include <cerrno>

#include "serial/port.h"

namespace roderavo::posix {

inline SerialResult Refused(int error) {
    return {SerialStatus::CallFailed, static_cast<int32_t>(error)};
}

// The failure of the system call just made: its errno (EIO when it left none).
inline SerialResult SystemFailure() {
    return Refused(errno != 0 ? errno : EIO);
}

inline SerialResult ResultOf(bool succeeded) {
    return succeeded ? kSerialOk : SystemFailure();
}

}  // namespace roderavo::posix
