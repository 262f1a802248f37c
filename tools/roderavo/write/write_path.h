// The write path that `roderavo write` and the MQTT bridge share: an assignment
// ADDRESS=VALUE judged whole before anything goes on the line (the address by
// SingleParse, its access class, the value by the driver's own frame builders), then
// sent, and its outcome explained the way the tool explains it.
#pragma once
#define RODERAVO_TREE_WRITE_PATH_H 1  // the tree's own copy, as the layer probes ask

#include <cstdint>
#include <optional>
#include <string>

#include "line/session.h"

namespace roderavo::tool {

struct PreparedWrite {
    BoundGate gate;
    std::string valueText;  // as sent (TAD now expanded)
    uint16_t number = 0;
};

// The assignment checked and its gate bound; nothing when the address or the value
// is refused, with the reason in `refusal` (a sentence that begins "write ITEM: ").
std::optional<PreparedWrite> PrepareWrite(Session& session, const std::string& item,
                                          std::string* refusal);

// The multiplexer a write goes to: the value of CAA, else the address's plcNum.
int WriteMux(const PreparedWrite& write);

// Why a write failed: nothing failed, the driver refused the value, the multiplexer
// refused the command (the line works), or the line failed (no answer, or no usable one).
enum class WriteFault { kNone, kValue, kRefusedByMux, kLine };

struct WriteOutcome {
    int32_t status = 0;  // the driver's result
    WriteFault fault = WriteFault::kNone;
    int exitCode = kExitOk;   // what the tool would exit with
    std::string explanation;  // empty on success; else what the tool says of the failure
    std::string logLine;      // the driver's last event line of the call, if any
};

// Sends one prepared write on the open line and explains its outcome.
WriteOutcome SendPreparedWrite(Session& session, const PreparedWrite& write);

}  // namespace roderavo::tool
