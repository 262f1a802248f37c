// One request sent and its reply received, with up to five attempts: a failed
// send is repeated at once, a failed or malformed reply after a 50 ms pause.
#pragma once

#include <cstdint>
#include <span>

#include "base/status.h"
#include "protocol/frame.h"
#include "protocol/gate.h"
#include "protocol/reply_check.h"
#include "roderavo/product.h"

namespace roderavo {

inline constexpr int kAttempts = RODERAVO_ATTEMPTS;

// Returns the status of the last attempt: Ok with the reply in reply and its byte
// count in received, CommFailure when the line failed, Malformed when the answer
// was not the one expected. A write names its gate in logWriteFailureOf: every
// failed send is then logged with the gate's address. When the line failed,
// lineFailure is the failure of the last attempt, for CommFailed.
DriverStatus ExchangeRequest(const Line& line, std::span<const uint8_t> request,
                             const ReplyExpectation& expected, ReplyBuffer& reply,
                             uint16_t& received, const Gate* logWriteFailureOf,
                             SerialResult& lineFailure);

}  // namespace roderavo
