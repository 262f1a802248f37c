// The port of a driver instance as its DriverContext keeps it, and opening a port
// from the context's settings.
#pragma once

#include <roderavo/kor.h>

#include <cstdint>

#include "serial/comm.h"

namespace roderavo {

// KorPortHandle is a descriptor number on POSIX and a HANDLE on Win32; the serial
// layer keeps either as an integer.
inline PortHandle ToPortHandle(uint32_t handle) {
    return handle;
}
inline PortHandle ToPortHandle(void* handle) {
    return reinterpret_cast<PortHandle>(handle);
}
inline void StorePortHandle(uint32_t& field, PortHandle handle) {
    field = static_cast<uint32_t>(handle);
}
inline void StorePortHandle(void*& field, PortHandle handle) {
    field = reinterpret_cast<void*>(handle);
}

inline PortHandle ContextPort(const DriverContext& context) {
    return ToPortHandle(context.PortHandle);
}
inline void SetContextPort(DriverContext& context, PortHandle handle) {
    StorePortHandle(context.PortHandle, handle);
}

// Opens and configures the port of the settings: Ok with its handle, else the
// failure with a handle of zero.
SerialResult OpenConfiguredPort(const PortSettings& settings, PortHandle& handle);

}  // namespace roderavo
