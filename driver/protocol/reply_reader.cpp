#include "reply_reader.h"

#include <span>

#include "checksum.h"
#include "command_table.h"
#include "host/host_services.h"
#include "serial/comm.h"

namespace roderavo {

namespace {

PortHandle PortOf(const KorCall& call) {
    return call.Context != nullptr ? call.Context->PortHandle : PortHandle{};
}

int64_t GateMuxAddress(const KorCall& call) {
    const auto* gate = static_cast<const GateParams*>(call.Params);
    return gate != nullptr ? MuxAddress(gate->plcNum) : -1;
}

// Reads the start byte and the length byte into positions 0 and 1.
DriverStatus ReadReplyStart(PortHandle port, ReplyBuffer& reply) {
    if (!CommReceive(port, std::span(reply).first(2), 2)) {
        err(kLogTrace, "VERODI: Failed to read first chars from PLC.");
        return kStatusCommFailure;
    }
    return kStatusOk;
}

// Reads positions 2..L once the start byte and a length byte that can form a
// frame inside the buffer are there. Nothing is read for any other length byte.
DriverStatus ReadReplyRest(PortHandle port, ReplyBuffer& reply) {
    if (reply[kPosStart] != kStartByte) return kStatusMalformed;
    const uint8_t length = reply[kPosLength];
    if (length < kMinLengthByte || length > kMaxLengthByte) return kStatusMalformed;
    const auto rest = static_cast<uint16_t>(length - 1);
    if (!CommReceive(port, std::span(reply).subspan(kPosDestination, rest), rest)) {
        err(kLogTrace, "VERODI: Failed to read Response from PLC.");
        return kStatusCommFailure;
    }
    return kStatusOk;
}

bool ChecksumMatches(const ReplyBuffer& reply) {
    const uint8_t length = reply[kPosLength];
    return reply[length] == ComputeChecksum(reply, length);
}

}  // namespace

DriverStatus ReceiveStatusReply(const KorCall& call, ReplyBuffer& reply, uint16_t& received,
                                uint8_t command) {
    received = 0;
    const PortHandle port = PortOf(call);
    if (const DriverStatus status = ReadReplyStart(port, reply); status != kStatusOk) return status;
    received = 2;
    if (const DriverStatus status = ReadReplyRest(port, reply); status != kStatusOk) return status;
    if (reply[kPosDestination] != kReplyDestination || reply[kPosCommand] != command ||
        reply[kPosSource] != GateMuxAddress(call) || reply[kPosMarker] != kMarkerByte)
        return kStatusMalformed;

    const uint8_t length = reply[kPosLength];
    if (reply[kPosCommand] == kCommandAlarmState && length > kMinLengthByte) {
        // The alarm report carries one byte more than its length byte announces.
        if (!CommReceive(port, std::span(reply).subspan(kAlarmReportExtraPos, 1), 1)) {
            err(kLogTrace, "VERODI: Failed to read crc from PLC.");
            return kStatusCommFailure;
        }
        received = static_cast<uint16_t>(received + length);
        return kStatusOk;
    }
    if (!ChecksumMatches(reply)) return kStatusMalformed;
    received = static_cast<uint16_t>(received + length - 1);
    return kStatusOk;
}

DriverStatus ReceiveAcknowledgement(const KorCall& call, ReplyBuffer& reply, uint16_t& received,
                                    int64_t expectedSource) {
    received = 0;
    const PortHandle port = PortOf(call);
    if (const DriverStatus status = ReadReplyStart(port, reply); status != kStatusOk) return status;
    if (reply[kPosStart] != kStartByte) return kStatusMalformed;
    received = 2;
    if (const DriverStatus status = ReadReplyRest(port, reply); status != kStatusOk) return status;
    if (reply[kPosDestination] != kReplyDestination || reply[kPosCommand] != kAcknowledgeCommand ||
        reply[kPosSource] != expectedSource || reply[kPosMarker] != kMarkerByte ||
        reply[kPosPayload] != kAcknowledgeOk || !ChecksumMatches(reply))
        return kStatusMalformed;
    received = static_cast<uint16_t>(received + reply[kPosLength] - 1);
    return kStatusOk;
}

}  // namespace roderavo
