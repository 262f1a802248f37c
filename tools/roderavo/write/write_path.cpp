#include "write/write_path.h"

#include "gates/gate_forms.h"
#include "line/line_messages.h"
#include "output/text.h"
#include "write/value_check.h"

namespace roderavo::tool {

std::optional<PreparedWrite> PrepareWrite(Session& session, const std::string& item,
                                          std::string* refusal) {
    const auto equals = item.find('=');
    if (equals == std::string::npos || equals == 0) {
        *refusal = "write " + item + ": give ADDRESS=VALUE, e.g. KEY1=53 or 'PRESET2=(9,13)'";
        return std::nullopt;
    }
    const std::string address = item.substr(0, equals);
    PreparedWrite write;
    write.valueText = item.substr(equals + 1);
    std::string why;
    auto bound = session.Bind(address, &why);
    if (!bound) {
        *refusal = "write " + item + ": " + address + " is not a valid gate address: " + why;
        return std::nullopt;
    }
    const int32_t access = bound->gate.parse.accessClass;
    if (access == KOR_ACCESS_COMPANION || access == KOR_ACCESS_READ_ONLY) {
        *refusal = "write " + item + ": " + address + " is a " +
                   std::string(AccessClassName(access)) +
                   " gate and cannot be written; writable are KEY, PTZ, CAA, IHK, TAD, JOY, "
                   "INHPAIR and PRESET gates";
        return std::nullopt;
    }
    if (bound->gate.valueKind == KOR_VALUE_NUMBER) {
        const auto number = ParseNumberValue(write.valueText);
        if (!number) {
            *refusal = "write " + item + ": '" + write.valueText + "' is not a value " +
                       Upper(address) + " takes; " + ValueHint(address);
            return std::nullopt;
        }
        write.number = *number;
    } else if (Upper(address).starts_with("TAD") && Upper(write.valueText) == "NOW") {
        write.valueText = ClockValueNow();
    }
    // The whole batch is judged before the first frame goes out.
    if (!DriverTakesValue(bound->gate, write.number, write.valueText)) {
        *refusal = "write " + item + ": the driver refused the value: " + ValueHint(address);
        return std::nullopt;
    }
    write.gate = *bound;
    return write;
}

int WriteMux(const PreparedWrite& write) {
    return Upper(write.gate.gate.address) == "CAA" ? write.number : write.gate.gate.parse.plcNum;
}

WriteOutcome SendPreparedWrite(Session& session, const PreparedWrite& write) {
    const int plc = WriteMux(write);
    const uint64_t refusedBefore = session.LineCountsOf(plc).refused;
    const WriteResult result = session.Write(write.gate, write.number, write.valueText);
    WriteOutcome outcome;
    outcome.status = result.status;
    outcome.logLine = result.logLine;
    if (result.status == KOR_OK) return outcome;
    const std::string& address = write.gate.gate.address;
    if (result.malformed && session.LineCountsOf(plc).refused > refusedBefore) {
        outcome.explanation =
            "write " + address + "=" + write.valueText + ": multiplexer " + std::to_string(plc) +
            " on port " + session.PortLabel() +
            " refused the command (its acknowledgement said no, " + Attempts() +
            "): the line "
            "works; check that the multiplexer accepts this command in its present mode "
            "(menu open, camera or key not available)";
        outcome.exitCode = kExitLine;
        outcome.fault = WriteFault::kRefusedByMux;
    } else if (result.status == KOR_COMM_FAILURE || result.malformed) {
        outcome.explanation =
            LineFailureMessage("write", address + "=" + write.valueText, plc, session.PortLabel(),
                               session.TimeoutMs(), result.malformed, result.systemError);
        outcome.exitCode = kExitLine;
        outcome.fault = WriteFault::kLine;
    } else {
        outcome.explanation = "write " + address + "=" + write.valueText +
                              ": the driver refused the value: " + ValueHint(address);
        outcome.exitCode = kExitRefused;
        outcome.fault = WriteFault::kValue;
    }
    return outcome;
}

}  // namespace roderavo::tool
