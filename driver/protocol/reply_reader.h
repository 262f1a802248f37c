// The reply reader: moves the bytes of one reply from the port into the caller's
// ReplyBuffer, as the reply checks ask for them.
#pragma once

#include <cstdint>

#include "base/status.h"
#include "protocol/frame.h"
#include "protocol/reply_check.h"
#include "serial/comm.h"

namespace roderavo {

// Reads one reply and checks it against what is expected. received counts the
// bytes taken from the line. Ok: a good reply; CommFailure: the line did not
// deliver (lineFailure then says how); Malformed: the bytes are not the reply
// expected.
DriverStatus ReceiveReply(PortHandle port, const ReplyExpectation& expected, ReplyBuffer& reply,
                          uint16_t& received, SerialResult& lineFailure);

}  // namespace roderavo
