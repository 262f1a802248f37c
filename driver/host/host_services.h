// The host library the driver calls: client registration, gate look-up and
// stores, and the log. Every log line goes through the host library's err, bound
// through the ZANPRO_1 version node, never the C library's function of that name.
#pragma once

#include <zanpro/zanpro.h>

#include <cstdint>

namespace roderavo {

inline constexpr int32_t kLogTrace = 8;   // trace lines
inline constexpr int32_t kLogEvent = 32;  // errors and events

// The constants the driver passes with client creation and gate stores.
inline constexpr int32_t kClientKind = 1;
inline constexpr int32_t kClientFlags = 0;
inline constexpr int32_t kGateStoreMode = 2;

}  // namespace roderavo
