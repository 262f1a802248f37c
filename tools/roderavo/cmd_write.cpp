// roderavo write: control commands sent to the multiplexers.
#include <algorithm>
#include <iostream>
#include <optional>

#include "commands.h"
#include "gate_forms.h"
#include "json_out.h"
#include "line_messages.h"
#include "text.h"
#include "value_check.h"

namespace roderavo::tool {

namespace {

struct Assignment {
    BoundGate gate;
    std::string valueText;  // as sent (TAD now expanded)
    uint16_t number = 0;
};

// The assignment checked and its gate bound; nothing (with a message) when the
// address or the value is refused before the line is touched.
std::optional<Assignment> PrepareWrite(Session& session, const std::string& item) {
    const auto equals = item.find('=');
    if (equals == std::string::npos || equals == 0) {
        Complain("write " + item + ": give ADDRESS=VALUE, e.g. KEY1=53 or 'PRESET2=(9,13)'");
        return std::nullopt;
    }
    const std::string address = item.substr(0, equals);
    Assignment write;
    write.valueText = item.substr(equals + 1);
    std::string why;
    auto bound = session.Bind(address, &why);
    if (!bound) {
        Complain("write " + item + ": " + address + " is not a valid gate address: " + why);
        return std::nullopt;
    }
    const int32_t access = bound->gate.parse.accessClass;
    if (access == KOR_ACCESS_COMPANION || access == KOR_ACCESS_READ_ONLY) {
        Complain("write " + item + ": " + address + " is a " +
                 std::string(AccessClassName(access)) +
                 " gate and cannot be written; writable are KEY, PTZ, CAA, IHK, TAD, JOY, "
                 "INHPAIR and PRESET gates");
        return std::nullopt;
    }
    if (bound->gate.valueKind == KOR_VALUE_NUMBER) {
        const auto number = ParseNumberValue(write.valueText);
        if (!number) {
            Complain("write " + item + ": '" + write.valueText + "' is not a number 0..65535; " +
                     ValueHint(address));
            return std::nullopt;
        }
        write.number = *number;
    } else if (Upper(address).starts_with("TAD") && Upper(write.valueText) == "NOW") {
        write.valueText = ClockValueNow();
    }
    // The whole batch is judged before the first frame goes out.
    if (!DriverTakesValue(bound->gate, write.number, write.valueText)) {
        Complain("write " + item + ": the driver refused the value: " + ValueHint(address));
        return std::nullopt;
    }
    write.gate = *bound;
    return write;
}

// Sends one write and says how it went; the exit code it deserves.
int SendWrite(const CommonOptions& options, Session& session, const Assignment& write) {
    const int mux =
        Upper(write.gate.gate.address) == "CAA" ? write.number : write.gate.gate.parse.plcNum;
    const uint64_t refusedBefore = session.LineCountsOf(mux).refused;
    const WriteResult result = session.Write(write.gate, write.number, write.valueText);
    const int32_t status = result.status;
    const std::string& address = write.gate.gate.address;
    if (options.json) {
        Json record{{"gate", address}, {"value", write.valueText}, {"result", status}};
        if (!result.logLine.empty()) record["log"] = result.logLine;
        PrintJsonLine(record);
    } else if (status == KOR_OK) {
        std::cout << address << " = " << write.valueText << "  done\n";
    }
    if (status == KOR_OK) return kExitOk;
    int plc = write.gate.gate.parse.plcNum;
    if (Upper(address) == "CAA") plc = write.number;
    if (result.malformed && session.LineCountsOf(plc).refused > refusedBefore) {
        Complain("write " + address + "=" + write.valueText + ": multiplexer " +
                 std::to_string(plc) + " on port " + session.PortLabel() +
                 " refused the command (its acknowledgement said no, 5 attempts): the line "
                 "works; check that the multiplexer accepts this command in its present mode "
                 "(menu open, camera or key not available)");
        return kExitLine;
    }
    if (status == KOR_COMM_FAILURE || result.malformed) {
        Complain(LineFailureMessage("write", address + "=" + write.valueText, plc,
                                    session.PortLabel(), session.TimeoutMs(), result.malformed));
        return kExitLine;
    }
    Complain("write " + address + "=" + write.valueText +
             ": the driver refused the value: " + ValueHint(address));
    return kExitRefused;
}

}  // namespace

int RunWrite(const CommonOptions& options, const std::vector<std::string>& assignments) {
    Session session;
    int exitCode = kExitOk;
    if (!session.LoadDriver(options, &exitCode)) return exitCode;
    std::vector<Assignment> writes;
    for (const auto& item : assignments) {
        if (auto write = PrepareWrite(session, item))
            writes.push_back(*write);
        else
            exitCode = kExitRefused;
    }
    if (exitCode != kExitOk) return exitCode;
    session.UseTap(true);  // the tap tells a refusing multiplexer from a bad line
    if (!session.OpenLine(options, &exitCode)) return exitCode;
    // A line failure outweighs a refused value.
    for (const auto& write : writes)
        exitCode = std::max(exitCode, SendWrite(options, session, write));
    return exitCode;
}

}  // namespace roderavo::tool
