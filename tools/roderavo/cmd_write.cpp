// roderavo write: control commands sent to the multiplexers.
#include <algorithm>
#include <iostream>

#include "commands.h"
#include "json_out.h"
#include "text.h"
#include "write_path.h"

namespace roderavo::tool {

namespace {

// Sends one write and says how it went; the exit code it deserves.
int SendWrite(const CommonOptions& options, Session& session, const PreparedWrite& write) {
    const WriteOutcome outcome = SendPreparedWrite(session, write);
    const std::string& address = write.gate.gate.address;
    if (options.json) {
        Json record{{"gate", address}, {"value", write.valueText}, {"result", outcome.status}};
        if (!outcome.logLine.empty()) record["log"] = outcome.logLine;
        PrintJsonLine(record);
    } else if (outcome.status == KOR_OK) {
        std::cout << address << " = " << write.valueText << "  done\n";
    }
    if (!outcome.explanation.empty()) Complain(outcome.explanation);
    return outcome.exitCode;
}

}  // namespace

int RunWrite(const CommonOptions& options, const std::vector<std::string>& assignments) {
    Session session;
    int exitCode = kExitOk;
    if (!session.LoadDriver(options, &exitCode)) return exitCode;
    std::vector<PreparedWrite> writes;
    for (const auto& item : assignments) {
        std::string refusal;
        if (auto write = PrepareWrite(session, item, &refusal)) {
            writes.push_back(*write);
        } else {
            Complain(refusal);
            exitCode = kExitRefused;
        }
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
