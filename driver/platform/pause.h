// The pause seam: the driver's 50 ms waits between attempts go through Pause, so
// tests can count them instead of waiting.
#pragma once

#define RODERAVO_TREE_PAUSE_H 1  // the tree's own copy, as the layer probes ask

#include <cstdint>

#include "roderavo/product.h"

namespace roderavo {

inline constexpr uint32_t kRetryPauseMs = RODERAVO_RETRY_PAUSE_MS;

// Blocks the calling thread for the given number of milliseconds.
void Pause(uint32_t milliseconds);

// Replaces the function behind Pause (nullptr restores the platform's own) and
// returns the previous one. Used by tests; the driver never calls it.
using PauseFunction = void (*)(uint32_t milliseconds);
PauseFunction SetPauseFunction(PauseFunction function);

}  // namespace roderavo
