#include "protocol/exchange.h"

#include "host/host_services.h"
#include "platform/pause.h"
#include "protocol/reply_reader.h"
#include "serial/comm.h"

namespace roderavo {

DriverStatus ExchangeRequest(const Line& line, std::span<const uint8_t> request,
                             const ReplyExpectation& expected, ReplyBuffer& reply,
                             uint16_t& received, const Gate* logWriteFailureOf,
                             SerialResult& lineFailure) {
    DriverStatus status = DriverStatus::CommFailure;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        lineFailure = CommSend(line.port, request);
        status = lineFailure ? DriverStatus::Ok : DriverStatus::CommFailure;
        if (status != DriverStatus::Ok) {
            if (logWriteFailureOf != nullptr)
                err(kLogEvent, "VERODI: Failed to write to PLC,GAS:%s.",
                    logWriteFailureOf->hostAddress);
            continue;  // a failed send is repeated at once
        }
        status = ReceiveReply(line.port, expected, reply, received, lineFailure);
        if (status == DriverStatus::Ok) return status;
        Pause(kRetryPauseMs);
    }
    return status;
}

}  // namespace roderavo
