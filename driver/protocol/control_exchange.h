// One control request sent and acknowledged, with up to five attempts.
#pragma once

#include <roderavo/kor.h>

#include <cstdint>
#include <span>

#include "entry/driver_status.h"
#include "frame.h"

namespace roderavo {

// The address byte the acknowledgement of a request must come from: the
// multiplexer the frame was addressed to for CAA, the gate's plcNum otherwise.
int64_t AcknowledgementSource(const GateParams& gate, std::span<const uint8_t> request);

// Returns the status of the last attempt: 0 acknowledged, 2 the line failed,
// 10 the answer was malformed.
DriverStatus ExchangeControlRequest(const KorCall& call, std::span<const uint8_t> request,
                                    ReplyBuffer& reply);

}  // namespace roderavo
