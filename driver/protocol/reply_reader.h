// The two reply readers: a status reply and a control acknowledgement, each read
// into the caller's ReplyBuffer and checked.
#pragma once

#include <roderavo/kor.h>

#include <cstdint>

#include "entry/driver_status.h"
#include "frame.h"

namespace roderavo {

// Reads one status reply for the gate of the call and checks it against the
// expected command and the gate's multiplexer. received counts the bytes taken
// from the line. 0 good reply, 2 the line did not deliver, 10 malformed.
DriverStatus ReceiveStatusReply(const KorCall& call, ReplyBuffer& reply, uint16_t& received,
                                uint8_t command);

// Reads one acknowledgement and checks that it comes from the multiplexer whose
// address byte is expectedSource and carries status 0x00. Results as above.
DriverStatus ReceiveAcknowledgement(const KorCall& call, ReplyBuffer& reply, uint16_t& received,
                                    int64_t expectedSource);

}  // namespace roderavo
