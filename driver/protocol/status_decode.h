// Stores an accepted status reply into the gate that was read and its companions.
#pragma once

#include <cstdint>

#include "base/status.h"
#include "protocol/frame.h"
#include "protocol/gate.h"

namespace roderavo {

// The version text is assembled in a buffer of 30: at most 29 characters.
inline constexpr std::size_t kVersionTextLimit = 29;

// received is the count the reply took, command the reply's command code.
// Ok stored, Refused: the reply or the gate cannot take it.
DriverStatus DecodeStatusReply(const Line& line, const Gate& gate, const ReplyBuffer& reply,
                               uint16_t received, uint8_t command);

}  // namespace roderavo
