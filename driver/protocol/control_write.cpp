// Writing a gate: one, two or three control frames, each sent only after the
// previous one was acknowledged.
#include <span>

#include "address/address_rules.h"
#include "host/host_services.h"
#include "protocol/command_table.h"
#include "protocol/control_request.h"
#include "protocol/exchange.h"
#include "protocol/gate_operations.h"

namespace roderavo {

namespace {

// The address byte the acknowledgement of a request must come from: the
// multiplexer the frame was addressed to for CAA, the gate's plcNum otherwise.
int64_t AcknowledgementSource(const Gate& gate, std::span<const uint8_t> request) {
    for (const ControlCommand& command : kControlCommands)
        if (command.ackFromAddressedMux && CommandCode(command.mnemonic) == request[kPosCommand])
            return request[kPosDestination];
    return MuxAddress(gate.plcNum);
}

}  // namespace

DriverStatus WriteControlGate(const Line& line, const Gate& gate) {
    if (gate.accessClass == kAccessCompanion || gate.accessClass == kAccessReadOnly) {
        err(kLogTrace, "VERODI: Error try to operate SingleWrite() on read GAS: %s",
            gate.hostAddress);
        return DriverStatus::Refused;
    }

    ReplyBuffer reply{};
    for (int stage = 1; stage <= ControlFrameCount(gate); ++stage) {
        RequestBuffer frame{};
        uint16_t size = 0;
        if (BuildControlStage(gate, stage, frame, size) != DriverStatus::Ok) {
            err(kLogEvent, "VERODI: Failed to prepare write request to PLC,GAS:%s.",
                gate.hostAddress);
            return DriverStatus::Refused;
        }
        const auto request = std::span<const uint8_t>(frame).first(size);
        const ReplyExpectation expected{true, 0, AcknowledgementSource(gate, request)};
        uint16_t received = 0;
        SerialResult lineFailure;
        const DriverStatus status =
            ExchangeRequest(line, request, expected, reply, received, &gate, lineFailure);
        if (status == DriverStatus::Ok) continue;
        if (status == DriverStatus::Malformed) {
            err(kLogEvent, "VERODI: wrong receive");
            return DriverStatus::Refused;
        }
        err(kLogEvent, "VERODI: Failed to read reply from PLC");
        return CommFailed(lineFailure);
    }
    return DriverStatus::Ok;
}

}  // namespace roderavo
