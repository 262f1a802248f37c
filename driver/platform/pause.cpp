#include "pause.h"

namespace roderavo {

void PlatformPause(uint32_t milliseconds);  // the platform's own, in its platform file

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
