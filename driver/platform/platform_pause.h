// The platform's own pause, behind Pause: each platform backend defines it once
// (nanosleep on POSIX, Sleep on Win32; the test backend advances its virtual clock).
#pragma once

#include <cstdint>

namespace roderavo {

// Blocks the calling thread for the given number of milliseconds.
void PlatformPause(uint32_t milliseconds);

}  // namespace roderavo
