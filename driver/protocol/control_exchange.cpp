#include "control_exchange.h"

#include "command_table.h"
#include "host/host_services.h"
#include "platform/pause.h"
#include "reply_reader.h"
#include "serial/comm.h"

namespace roderavo {

namespace {

constexpr int kAttempts = 5;

}  // namespace

int64_t AcknowledgementSource(const GateParams& gate, std::span<const uint8_t> request) {
    if (request.size() > kPosCommand) {
        for (const ControlCommand& command : kControlCommands)
            if (command.code == request[kPosCommand] && command.ackFromAddressedMux)
                return request[kPosDestination];
    }
    return MuxAddress(gate.plcNum);
}

DriverStatus ExchangeControlRequest(const KorCall& call, std::span<const uint8_t> request,
                                    ReplyBuffer& reply) {
    const auto& gate = *static_cast<const GateParams*>(call.Params);
    const int64_t source = AcknowledgementSource(gate, request);
    const PortHandle port = call.Context != nullptr ? call.Context->PortHandle : PortHandle{};
    DriverStatus status = kStatusCommFailure;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        status = CommSend(port, request);
        if (status != kStatusOk) {
            err(kLogEvent, "VERODI: Failed to write to PLC,GAS:%s.", gate.Address);
            continue;  // a failed send is repeated at once
        }
        uint16_t received = 0;
        status = ReceiveAcknowledgement(call, reply, received, source);
        if (status == kStatusOk) return kStatusOk;
        Pause(kRetryPauseMs);
    }
    return status;
}

}  // namespace roderavo
