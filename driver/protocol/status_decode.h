// Stores an accepted status reply into the gate that was read and its companions.
#pragma once

#include <roderavo/kor.h>

#include <cstdint>

#include "entry/driver_status.h"
#include "frame.h"

namespace roderavo {

// The version text is assembled in a buffer of 30: at most 29 characters.
inline constexpr std::size_t kVersionTextLimit = 29;

// received is the count ReceiveStatusReply returned, command the reply's
// command code. 0 stored, 1 the reply or the gate cannot take it.
DriverStatus DecodeStatusReply(const KorCall& call, const ReplyBuffer& reply, uint16_t received,
                               uint8_t command);

}  // namespace roderavo
