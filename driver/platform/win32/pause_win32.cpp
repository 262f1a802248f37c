// The pause on Win32: Sleep.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <cstdint>

#include "platform/platform_pause.h"

namespace roderavo {

void PlatformPause(uint32_t milliseconds) {
    Sleep(milliseconds);
}

}  // namespace roderavo
