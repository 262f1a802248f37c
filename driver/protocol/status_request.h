// The status request of a read gate.
#pragma once

#include <roderavo/kor.h>

#include <cstdint>
#include <string_view>

#include "frame.h"

namespace roderavo {

struct StatusRequest {
    RequestBuffer frame{};
    uint16_t size = 0;    // bytes to send; 0 when the address names no status command
    uint8_t command = 0;  // the command the reply must carry
};

// Builds the request of the gate's address: 7 bytes, 8 for ALS with its camera.
StatusRequest BuildStatusRequest(const GateParams& gate);

// The camera number of an ALS/TAS address: the two digits at positions 5-6, or
// 100 for the one three-digit form (positions 5-7 "100").
uint32_t AddressCamera(std::string_view address);

// The longest address the read path looks at.
inline constexpr std::size_t kReadAddressLimit = 39;

}  // namespace roderavo
