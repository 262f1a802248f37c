#include "protocol/status_decode.h"

#include <string_view>

#include "host/host_services.h"
#include "protocol/command_table.h"
#include "protocol/companion_gate.h"
#include "protocol/gate_value.h"
#include "protocol/status_text.h"

namespace roderavo {

namespace {

// A status reply without an alarm report is 7 bytes.
constexpr uint16_t kShortReplyCount = 7;

DriverStatus DecodeVersion(const Gate& gate, const ReplyBuffer& reply, uint16_t received) {
    ShortText<kVersionTextLimit> version;
    // The text stands at positions 6..L-1, L + 1 being the received count.
    const std::size_t end = received > kPosPayload + 1 ? received - 1u : kPosPayload;
    for (std::size_t i = kPosPayload; i < end && i < reply.size() && reply[i] != 0; ++i) {
        const char c = static_cast<char>(reply[i]);
        version.Append({&c, 1});
    }
    return WriteGateText(gate, version.View()) ? DriverStatus::Ok : DriverStatus::Refused;
}

DriverStatus DecodeAlarmState(const Line& line, const Gate& gate, const ReplyBuffer& reply,
                              uint16_t received) {
    if (received <= kShortReplyCount)
        return WriteGateNumber(gate, 0) ? DriverStatus::Ok : DriverStatus::Refused;
    const uint8_t state = reply[kReportStatePos];
    GateName name;
    name.Append(MnemonicName(CommandMnemonic::Tas));
    name.Append(CameraPart(CommandMnemonic::Als, gate.address));
    if (const auto report = FindCompanionGate(line, name)) {
        if (CameraStateText(state).empty()) return DriverStatus::Refused;
        const ReportTextBuffer text = ReportText(reply);
        ZanPutGateStr(line.clientId, *report, kGateStoreMode, text.CStr(), 0, 0);
    }
    return WriteGateNumber(gate, state) ? DriverStatus::Ok : DriverStatus::Refused;
}

// Stores the twenty camera bytes of a multiplexer into their SAC or SVC gates.
DriverStatus DecodeCameraList(const Line& line, const Gate& gate, const ReplyBuffer& reply,
                              uint8_t command) {
    const bool alarmStates = command == kCommandAlarmStates;
    const CommandMnemonic companion = alarmStates ? CommandMnemonic::Sac : CommandMnemonic::Svc;
    const int64_t first = static_cast<int64_t>(gate.plcNum) * kCamerasPerMux + 1;
    int found = 0;
    for (int64_t index = 0; index < kCamerasPerMux; ++index) {
        const auto gateId =
            FindCompanionGate(line, ComposeCameraAddress(companion, gate.plcNum, first + index));
        if (!gateId) continue;
        ++found;
        const uint8_t value = reply[kPosPayload + static_cast<std::size_t>(index)];
        const bool accepted =
            alarmStates ? !CameraStateText(value).empty() : IsVideoLossByte(value);
        if (!accepted) return DriverStatus::Refused;
        if (ZanPutGateVal(line.clientId, *gateId, kGateStoreMode, value, 0, 0) != 0)
            return DriverStatus::Refused;
    }
    if (found == kCamerasPerMux)
        return WriteGateNumber(gate, 1) ? DriverStatus::Ok : DriverStatus::Refused;
    err(kLogEvent,
        "VERODI: SingleWrite(), can't supply full report for cameras, plc %d (not enough TAGS), "
        "plcNum",
        static_cast<int>(gate.plcNum));
    return DriverStatus::Ok;
}

}  // namespace

DriverStatus DecodeStatusReply(const Line& line, const Gate& gate, const ReplyBuffer& reply,
                               uint16_t received, uint8_t command) {
    if (gate.valueKind == kValueKindText) {
        if (command == kCommandVersion) return DecodeVersion(gate, reply, received);
        if (command == kCommandClock)
            return WriteGateText(gate, ClockText(reply).View()) ? DriverStatus::Ok
                                                                : DriverStatus::Refused;
        return DriverStatus::Ok;
    }
    if (gate.valueKind == kValueKindNumber) {
        if (command == kCommandAlarmState) return DecodeAlarmState(line, gate, reply, received);
        if (command == kCommandAlarmStates || command == kCommandVideoLoss)
            return DecodeCameraList(line, gate, reply, command);
        return DriverStatus::Ok;
    }
    return DriverStatus::Refused;
}

}  // namespace roderavo
