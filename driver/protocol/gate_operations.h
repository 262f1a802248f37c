// The read and write of one gate, on the line of its driver instance.
#pragma once

#include "base/status.h"
#include "protocol/gate.h"

namespace roderavo {

// One status request, up to five attempts, the reply stored into the gate and its
// companions.
DriverStatus ReadStatusGate(const Line& line, const Gate& gate);

// One, two or three control frames, each sent only after the previous one was
// acknowledged.
DriverStatus WriteControlGate(const Line& line, const Gate& gate);

}  // namespace roderavo
