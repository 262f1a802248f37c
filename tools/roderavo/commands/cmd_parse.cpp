// roderavo parse: addresses checked by the driver, offline.
#include <iostream>

#include "commands/commands.h"
#include "gates/gate_forms.h"
#include "output/host_log.h"
#include "output/json_out.h"
#include "output/text.h"

namespace roderavo::tool {

int RunParse(const CommonOptions& options, const ParseOptions& parse) {
    Session session;
    int exitCode = kExitOk;
    if (!session.LoadDriver(options, &exitCode)) return exitCode;
    SetLogEcho(false);  // the driver's lines are part of the answer here
    for (const std::string& address : parse.addresses) {
        int32_t kind = ValueKindOf(address);
        if (parse.kind == "number") kind = KOR_VALUE_NUMBER;
        if (parse.kind == "text") kind = KOR_VALUE_TEXT;
        MarkLog();
        const ParseResult result = session.driver().Parse(address, kind);
        std::vector<std::string> lines;
        for (const auto& line : LinesSinceMark())
            if (options.verbose || !line.text.starts_with("VERODI: Entered KorMain()"))
                lines.push_back(line.text);
        const bool ok = result.status == KOR_OK;
        if (!ok) exitCode = kExitRefused;
        if (options.json) {
            Json record{{"address", address},
                        {"result", result.status},
                        {"accepted", ok},
                        {"valueKind", ValueKindName(kind)}};
            if (ok) {
                record["plcNum"] = result.plcNum;
                record["accessClass"] = result.accessClass;
                record["access"] = AccessClassName(result.accessClass);
            } else {
                record["hint"] = AddressHint(address);
            }
            record["log"] = lines;
            PrintJsonLine(record);
        } else {
            std::cout << address << "  ";
            if (ok)
                std::cout << "accepted  plcNum " << result.plcNum << "  access class "
                          << result.accessClass << " (" << AccessClassName(result.accessClass)
                          << ")  " << ValueKindName(kind) << "\n";
            else if (FindGateForm(address) == nullptr)
                std::cout << "refused: " << AddressHint(address) << "\n";
            else
                std::cout << "refused as a " << ValueKindName(kind)
                          << " gate: " << AddressHint(address) << "\n";
            for (const auto& line : lines) std::cout << "    " << line << "\n";
        }
    }
    if (exitCode != kExitOk && !options.json) Complain("some addresses were refused");
    return exitCode;
}

}  // namespace roderavo::tool
