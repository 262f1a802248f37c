// The status request of a read gate.
#pragma once

#include <cstdint>

#include "protocol/frame.h"
#include "protocol/gate.h"

namespace roderavo {

struct StatusRequest {
    RequestBuffer frame{};
    uint16_t size = 0;    // bytes to send; 0 when the address names no status command
    uint8_t command = 0;  // the command the reply must carry
};

// Builds the request of the gate's address: 7 bytes, 8 for ALS with its camera.
StatusRequest BuildStatusRequest(const Gate& gate);

}  // namespace roderavo
