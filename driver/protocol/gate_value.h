// What the read and write paths take from and give to a gate's value.
#pragma once

#include <cstdint>
#include <string_view>

#include "protocol/gate.h"

namespace roderavo {

// The written number of a number gate.
bool ReadGateNumber(const Gate& gate, uint16_t& number);
// Stores a number into a number gate.
bool WriteGateNumber(const Gate& gate, uint16_t number);
// Copies a text with its terminating zero into a text gate's buffer.
bool WriteGateText(const Gate& gate, std::string_view text);

}  // namespace roderavo
