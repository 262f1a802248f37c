// SingleWrite: one, two or three control frames, each sent only after the
// previous one was acknowledged.
#include <span>
#include <string_view>

#include "command_table.h"
#include "control_exchange.h"
#include "control_request.h"
#include "entry/kor_func.h"
#include "gate_value.h"
#include "host/host_services.h"
#include "platform/pause.h"

namespace roderavo {

namespace {

// The longest address SingleWrite looks at.
constexpr std::size_t kWriteAddressLimit = 39;

enum class Sequence { Single, Inhpair, Preset };

constexpr int FrameCount(Sequence sequence) {
    return sequence == Sequence::Inhpair ? 2 : sequence == Sequence::Preset ? 3 : 1;
}

DriverStatus BuildFrame(Sequence sequence, const GateParams& gate, RequestBuffer& frame,
                        uint16_t& size, int stage) {
    switch (sequence) {
        case Sequence::Inhpair:
            return BuildInhpairRequest(gate, frame, size, stage);
        case Sequence::Preset:
            return BuildPresetRequest(gate, frame, size, stage);
        default:
            return BuildControlRequest(gate, frame, size);
    }
}

}  // namespace

DriverStatus SingleWrite(KorCall* call) {
    Pause(kRetryPauseMs);
    if (call->Params == nullptr) return kStatusRefused;
    const auto& gate = *static_cast<const GateParams*>(call->Params);
    if (gate.Address == nullptr) return kStatusRefused;

    ReplyBuffer reply{};
    const std::string_view address = BoundedText(gate.Address, kWriteAddressLimit);
    if (gate.AccessClass == kAccessCompanion || gate.AccessClass == kAccessReadOnly) {
        err(kLogTrace, "VERODI: Error try to operate SingleWrite() on read GAS: %s", gate.Address);
        return kStatusRefused;
    }

    const Sequence sequence = StartsWithFolded(address, kInhpairWord)  ? Sequence::Inhpair
                              : StartsWithFolded(address, kPresetWord) ? Sequence::Preset
                                                                       : Sequence::Single;
    for (int stage = 1; stage <= FrameCount(sequence); ++stage) {
        RequestBuffer frame{};
        uint16_t size = 0;
        if (BuildFrame(sequence, gate, frame, size, stage) != kStatusOk) {
            err(kLogEvent, "VERODI: Failed to prepare write request to PLC,GAS:%s.", gate.Address);
            return kStatusRefused;
        }
        const DriverStatus status =
            ExchangeControlRequest(*call, std::span(frame).first(size), reply);
        if (status == kStatusOk) continue;
        if (status == kStatusMalformed) {
            err(kLogEvent, "VERODI: wrong receive");
            return kStatusRefused;
        }
        err(kLogEvent, "VERODI: Failed to read reply from PLC");
        return status;
    }
    return kStatusOk;
}

}  // namespace roderavo
