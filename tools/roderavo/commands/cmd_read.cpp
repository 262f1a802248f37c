// roderavo read: gates read from the multiplexers, companions shown with them.
#include <cmath>
#include <iostream>

#include <muxsim/simulator.h>

#include "commands/commands.h"
#include "gates/gate_forms.h"
#include "line/line_messages.h"
#include "output/json_out.h"
#include "output/text.h"

namespace roderavo::tool {

namespace {

std::string StateText(double value) {
    const auto state = static_cast<uint8_t>(std::lround(value));
    const std::string_view name = muxsim::CameraStateName(state);
    return name.empty() ? "" : std::string(name);
}

std::string NumberText(const std::optional<double>& value) {
    if (!value) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%g", *value);
    return text;
}

void PrintPlain(const BoundGate& gate, const ReadResult& result) {
    const std::string upper = Upper(gate.gate.address);
    std::cout << gate.gate.address << " = ";
    if (gate.gate.valueKind == KOR_VALUE_TEXT) {
        std::cout << result.text << "\n";
    } else {
        std::cout << result.number;
        if (upper.starts_with("ALS") && !StateText(result.number).empty())
            std::cout << " (" << StateText(result.number) << ")";
        std::cout << "\n";
    }
    for (const auto& companion : result.companions) {
        std::cout << "  " << companion.name << " = ";
        if (companion.name.starts_with("TAS")) {
            std::cout << (companion.text ? *companion.text : std::string("- (no alarm report)"))
                      << "\n";
        } else {
            std::cout << NumberText(companion.number);
            if (companion.number) {
                if (companion.name.starts_with("SAC"))
                    std::cout << " (" << StateText(*companion.number) << ")";
                else
                    std::cout << (*companion.number == 1 ? " (video loss)" : " (no video loss)");
            }
            std::cout << "\n";
        }
    }
}

void PrintJson(const BoundGate& gate, const ReadResult& result) {
    Json record{{"gate", gate.gate.address}, {"result", result.status}};
    if (result.status == KOR_OK) {
        if (gate.gate.valueKind == KOR_VALUE_TEXT)
            record["value"] = result.text;
        else
            record["value"] = result.number;
    }
    if (!gate.companions.empty()) {
        Json companions = Json::object();
        for (const auto& companion : result.companions) {
            if (companion.name.starts_with("TAS"))
                companions[companion.name] = companion.text ? Json(*companion.text) : Json(nullptr);
            else
                companions[companion.name] = JsonNumber(companion.number);
        }
        record["companions"] = companions;
    }
    if (!result.logLine.empty()) record["log"] = result.logLine;
    PrintJsonLine(record);
}

}  // namespace

int RunRead(const CommonOptions& options, const std::vector<std::string>& addresses) {
    Session session;
    int exitCode = kExitOk;
    if (!session.LoadDriver(options, &exitCode)) return exitCode;
    // Every address is checked before the line is touched.
    std::vector<BoundGate> gates;
    for (const auto& address : addresses) {
        std::string why;
        auto bound = session.Bind(address, &why);
        if (!bound) {
            Complain("read " + address + ": not a valid gate address: " + why);
            exitCode = kExitRefused;
            continue;
        }
        const int32_t access = bound->gate.parse.accessClass;
        if (access == KOR_ACCESS_COMPANION || access == KOR_ACCESS_WRITE_ONLY) {
            Complain("read " + address + ": this is a " + std::string(AccessClassName(access)) +
                     " gate and cannot be read; readable are VER, TAD, ALS, AAS and VLS gates" +
                     (access == KOR_ACCESS_COMPANION
                          ? " (a read of ALS, AAS or VLS fills TAS, SAC and SVC)"
                          : ""));
            exitCode = kExitRefused;
            continue;
        }
        gates.push_back(*bound);
    }
    if (exitCode != kExitOk) return exitCode;
    if (!session.OpenLine(options, &exitCode)) return exitCode;
    for (const auto& gate : gates) {
        const ReadResult result = session.Read(gate);
        if (options.json)
            PrintJson(gate, result);
        else if (result.status == KOR_OK)
            PrintPlain(gate, result);
        if (result.status == KOR_OK) continue;
        if (result.status == KOR_COMM_FAILURE || result.malformed) {
            Complain(LineFailureMessage("read", gate.gate.address, gate.gate.parse.plcNum,
                                        session.PortLabel(), session.TimeoutMs(), result.malformed,
                                        result.systemError));
            exitCode = kExitLine;
        } else {
            Complain("read " + gate.gate.address + ": the driver refused the reply (result " +
                     std::to_string(result.status) +
                     "): the multiplexer sent a camera state it does not know");
            if (exitCode == kExitOk) exitCode = kExitRefused;
        }
    }
    return exitCode;
}

}  // namespace roderavo::tool
