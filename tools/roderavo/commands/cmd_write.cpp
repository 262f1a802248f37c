// roderavo write: control commands sent to the multiplexers.
#include <algorithm>
#include <iostream>

#include "commands/commands.h"
#include "output/json_out.h"
#include "output/text.h"
#include "system/terminal.h"
#include "write/write_path.h"

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
        std::cout << address << " = " << write.valueText << "  done" << std::endl;
    }
    if (!outcome.explanation.empty()) Complain(outcome.explanation);
    return outcome.exitCode;
}

std::string Item(const PreparedWrite& write) {
    return write.gate.gate.address + "=" + write.valueText;
}

// After Ctrl-C: whether the write on the line went out, and what was not sent.
void ReportInterrupted(const std::vector<PreparedWrite>& writes, std::size_t current, bool done) {
    std::string message =
        "stopped by Ctrl-C: " + Item(writes[current]) +
        (done ? " went out and was acknowledged" : " did not go through (see above)");
    std::string rest;
    for (std::size_t i = current + 1; i < writes.size(); ++i)
        rest += (rest.empty() ? "" : " ") + Item(writes[i]);
    Complain(message + (rest.empty() ? "" : "; not sent: " + rest));
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
    // Ctrl-C lets the write on the line finish, then says what went out; a second one
    // ends at once.
    InstallStopSignals();
    ExitOnSecondInterrupt(true,
                          "roderavo: ended at once: the write on the line may or may not have "
                          "gone out\n");
    // A line failure outweighs a refused value.
    for (std::size_t i = 0; i < writes.size(); ++i) {
        const int result = SendWrite(options, session, writes[i]);
        exitCode = std::max(exitCode, result);
        if (StopRequested()) {
            ReportInterrupted(writes, i, result == kExitOk);
            return kExitInterrupted;
        }
    }
    return exitCode;
}

}  // namespace roderavo::tool
