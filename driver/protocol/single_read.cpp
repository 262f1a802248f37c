// SingleRead: one status request, up to five attempts, the reply stored into
// the gate and its companions.
#include <span>

#include "entry/kor_func.h"
#include "gate_value.h"
#include "host/host_services.h"
#include "platform/pause.h"
#include "reply_reader.h"
#include "serial/comm.h"
#include "status_decode.h"
#include "status_request.h"

namespace roderavo {

namespace {

constexpr int kAttempts = 5;

}  // namespace

DriverStatus SingleRead(KorCall* call) {
    if (call->Params == nullptr || call->Context == nullptr) return kStatusRefused;
    const auto& gate = *static_cast<const GateParams*>(call->Params);
    if (gate.Address == nullptr) return kStatusRefused;
    const StatusRequest request = BuildStatusRequest(gate);
    if (gate.AccessClass == kAccessCompanion || gate.AccessClass == kAccessWriteOnly ||
        request.size == 0) {
        err(kLogTrace, "VERODI: Error try to operate SingleRead() on write GAS : %s", gate.Address);
        return kStatusRefused;
    }

    ReplyBuffer reply{};
    const auto frame = std::span(request.frame).first(request.size);
    DriverStatus status = kStatusCommFailure;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        status = CommSend(call->Context->PortHandle, frame);
        if (status != kStatusOk) continue;  // a failed send is repeated at once
        uint16_t received = 0;
        status = ReceiveStatusReply(*call, reply, received, request.command);
        if (status == kStatusOk) return DecodeStatusReply(*call, reply, received, request.command);
        Pause(kRetryPauseMs);
    }
    if (status == kStatusMalformed) {
        err(kLogEvent, "VERODI: wrong receive");
        return kStatusRefused;
    }
    err(kLogEvent, "VERODI: Failed to read reply from PLC,GAS:%s.", gate.Address);
    return status;
}

}  // namespace roderavo
