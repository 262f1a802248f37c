// SingleRead and SingleWrite: the host's records turned into a line and a gate
// for the protocol layer.
#include "protocol/gate_operations.h"
#include "entry/gate_records.h"
#include "entry/kor_func.h"
#include "platform/pause.h"

namespace roderavo {

DriverStatus SingleRead(KorCall* call) {
    if (call->Params == nullptr || call->Context == nullptr) return DriverStatus::Refused;
    const auto& params = *static_cast<const GateParams*>(call->Params);
    if (params.Address == nullptr) return DriverStatus::Refused;
    return ReadStatusGate(LineOf(*call), GateOf(params));
}

DriverStatus SingleWrite(KorCall* call) {
    // Every write waits before it starts, giving the multiplexer time after the
    // previous exchange.
    Pause(kRetryPauseMs);
    if (call->Params == nullptr) return DriverStatus::Refused;
    const auto& params = *static_cast<const GateParams*>(call->Params);
    if (params.Address == nullptr) return DriverStatus::Refused;
    return WriteControlGate(LineOf(*call), GateOf(params));
}

}  // namespace roderavo
