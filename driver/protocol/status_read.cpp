// Reading a gate: one status request, up to five attempts, the reply stored into
// the gate and its companions.
#include <span>

#include "address/address_rules.h"
#include "host/host_services.h"
#include "protocol/exchange.h"
#include "protocol/gate_operations.h"
#include "protocol/status_decode.h"
#include "protocol/status_request.h"

namespace roderavo {

DriverStatus ReadStatusGate(const Line& line, const Gate& gate) {
    const StatusRequest request = BuildStatusRequest(gate);
    if (gate.accessClass == kAccessCompanion || gate.accessClass == kAccessWriteOnly ||
        request.size == 0) {
        err(kLogTrace, "VERODI: Error try to operate SingleRead() on write GAS : %s",
            gate.hostAddress);
        return DriverStatus::Refused;
    }

    ReplyBuffer reply{};
    uint16_t received = 0;
    const ReplyExpectation expected{false, request.command, MuxAddress(gate.plcNum)};
    SerialResult lineFailure;
    const DriverStatus status = ExchangeRequest(line, std::span(request.frame).first(request.size),
                                                expected, reply, received, nullptr, lineFailure);
    if (status == DriverStatus::Ok)
        return DecodeStatusReply(line, gate, reply, received, request.command);
    if (status == DriverStatus::Malformed) {
        err(kLogEvent, "VERODI: wrong receive");
        return DriverStatus::Refused;
    }
    err(kLogEvent, "VERODI: Failed to read reply from PLC,GAS:%s.", gate.hostAddress);
    return CommFailed(lineFailure);
}

}  // namespace roderavo
