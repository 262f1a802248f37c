#include "platform/pause.h"

#include "platform/platform_pause.h"

namespace roderavo {

namespace {
PauseFunction currentPause = nullptr;
}

void Pause(uint32_t milliseconds) {
    if (currentPause != nullptr)
        currentPause(milliseconds);
    else
        PlatformPause(milliseconds);
}

PauseFunction SetPauseFunction(PauseFunction function) {
    const PauseFunction previous = currentPause;
    currentPause = function;
    return previous;
}

}  // namespace roderavo
