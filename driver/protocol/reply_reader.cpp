#include "protocol/reply_reader.h"

#include <span>

#include "host/host_services.h"

namespace roderavo {

namespace {

void LogMissingPart(ReplyPart part) {
    switch (part) {
        case ReplyPart::Start:
            err(kLogTrace, "VERODI: Failed to read first chars from PLC.");
            return;
        case ReplyPart::Rest:
            err(kLogTrace, "VERODI: Failed to read Response from PLC.");
            return;
        case ReplyPart::Extra:
            err(kLogTrace, "VERODI: Failed to read crc from PLC.");
            return;
    }
}

}  // namespace

DriverStatus ReceiveReply(PortHandle port, const ReplyExpectation& expected, ReplyBuffer& reply,
                          uint16_t& received, SerialResult& lineFailure) {
    uint16_t got = 0;
    received = 0;
    for (;;) {
        const ReplyProgress step = ExamineReply(reply, got, expected);
        if (step.more == 0) {
            if (step.verdict == DriverStatus::Ok) received = got;
            return step.verdict;
        }
        lineFailure = CommReceive(port, std::span(reply).subspan(step.at, step.more), step.more);
        if (!lineFailure) {
            LogMissingPart(step.part);
            return DriverStatus::CommFailure;
        }
        got = static_cast<uint16_t>(got + step.more);
        received = got;
    }
}

}  // namespace roderavo
