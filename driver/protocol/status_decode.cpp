#include "status_decode.h"

#include <string_view>

#include "command_table.h"
#include "companion_gate.h"
#include "gate_value.h"
#include "host/host_services.h"
#include "status_request.h"
#include "status_text.h"

namespace roderavo {

namespace {

constexpr int64_t kCamerasPerMux = 20;
// A status reply without an alarm report is 7 bytes.
constexpr uint16_t kShortReplyCount = 7;

DriverStatus DecodeVersion(const GateParams& gate, const ReplyBuffer& reply, uint16_t received) {
    ShortText<kVersionTextLimit> version;
    // The text stands at positions 6..L-1, L + 1 being the received count.
    const std::size_t end = received > kPosPayload + 1 ? received - 1u : kPosPayload;
    for (std::size_t i = kPosPayload; i < end && i < reply.size() && reply[i] != 0; ++i) {
        const char c = static_cast<char>(reply[i]);
        version.Append({&c, 1});
    }
    return WriteGateText(gate, version.View()) ? kStatusOk : kStatusRefused;
}

DriverStatus DecodeAlarmState(const KorCall& call, const GateParams& gate, const ReplyBuffer& reply,
                              uint16_t received) {
    if (received <= kShortReplyCount) return WriteGateNumber(gate, 0) ? kStatusOk : kStatusRefused;
    const uint8_t state = reply[kReportStatePos];
    const GateName name = ReportGateName(BoundedText(gate.Address, kReadAddressLimit));
    if (const auto report = FindCompanionGate(call, name)) {
        if (CameraStateText(state).empty()) return kStatusRefused;
        const ReportTextBuffer text = ReportText(reply);
        ZanPutGateStr(call.Context->ClientId, *report, kGateStoreMode, text.CStr(), 0, 0);
    }
    return WriteGateNumber(gate, state) ? kStatusOk : kStatusRefused;
}

// Stores the twenty camera bytes of a multiplexer into their SAC or SVC gates.
DriverStatus DecodeCameraList(const KorCall& call, const GateParams& gate, const ReplyBuffer& reply,
                              uint8_t command) {
    const bool alarmStates = command == kCommandAlarmStates;
    const std::string_view prefix =
        MnemonicName(alarmStates ? CommandMnemonic::Sac : CommandMnemonic::Svc);
    const int64_t first = static_cast<int64_t>(gate.plcNum) * kCamerasPerMux + 1;
    int found = 0;
    for (int64_t index = 0; index < kCamerasPerMux; ++index) {
        const auto gateId =
            FindCompanionGate(call, CameraGateName(prefix, gate.plcNum, first + index));
        if (!gateId) continue;
        ++found;
        const uint8_t value = reply[kPosPayload + static_cast<std::size_t>(index)];
        const bool accepted =
            alarmStates ? !CameraStateText(value).empty() : IsVideoLossByte(value);
        if (!accepted) return kStatusRefused;
        if (ZanPutGateVal(call.Context->ClientId, *gateId, kGateStoreMode, value, 0, 0) != 0)
            return kStatusRefused;
    }
    if (found == kCamerasPerMux) return WriteGateNumber(gate, 1) ? kStatusOk : kStatusRefused;
    err(kLogEvent,
        "VERODI: SingleWrite(), can't supply full report for cameras, plc %d (not enough TAGS), "
        "plcNum",
        static_cast<int>(gate.plcNum));
    return kStatusOk;
}

}  // namespace

DriverStatus DecodeStatusReply(const KorCall& call, const ReplyBuffer& reply, uint16_t received,
                               uint8_t command) {
    const auto& gate = *static_cast<const GateParams*>(call.Params);
    if (gate.ValueKind == kValueKindText) {
        if (command == kCommandVersion) return DecodeVersion(gate, reply, received);
        if (command == kCommandClock)
            return WriteGateText(gate, ClockText(reply).View()) ? kStatusOk : kStatusRefused;
        return kStatusOk;
    }
    if (gate.ValueKind == kValueKindNumber) {
        if (command == kCommandAlarmState) return DecodeAlarmState(call, gate, reply, received);
        if (command == kCommandAlarmStates || command == kCommandVideoLoss)
            return DecodeCameraList(call, gate, reply, command);
        return kStatusOk;
    }
    return kStatusRefused;
}

}  // namespace roderavo
