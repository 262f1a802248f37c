#include "bridge/core/command_runner.h"

#include <algorithm>
#include <cctype>

#include "bridge/core/bridge_log.h"
#include "bridge/core/command_words.h"
#include "bridge/core/counters.h"
#include "output/host_log.h"
#include "output/text.h"
#include "roderavo/kor.h"
#include "write/write_path.h"

namespace roderavo::tool::bridge {

namespace {

Outcome OutcomeOf(WriteFault fault) {
    switch (fault) {
        case WriteFault::kNone:
            return Outcome::kDone;
        case WriteFault::kValue:
            return Outcome::kRefused;
        case WriteFault::kRefusedByMux:
            return Outcome::kRefusedByMux;
        case WriteFault::kLine:
            break;
    }
    return Outcome::kLineFailed;
}

// The record completed with what the command asked.
CommandResult Completed(const Command& command, CommandResult result,
                        const CommandRequest& request) {
    result.mux = command.mux;
    result.word = command.word;
    result.given = request.value;
    result.id = request.id;
    return result;
}

// Answers the command with its record, counted by its face and how it ended.
void Answer(const Command& command, const CommandResult& result) {
    ProcessCounters().CommandEnded(command.face, result.outcome);
    if (command.answer) command.answer(result);
}

// Logs the record and answers the command with it.
void Conclude(const Command& command, const CommandResult& result) {
    Say(CommandLogLine(command, result));
    Answer(command, result);
}

// The multiplexer as a number, as in the states; a command that names none has null.
Json MuxNumber(const std::string& mux) {
    if (mux.empty() || mux.size() > 2 || !std::all_of(mux.begin(), mux.end(), ::isdigit))
        return nullptr;
    return std::stoi(mux);
}

}  // namespace

std::string ResultRecord(const CommandResult& result) {
    Json record{{"mux", MuxNumber(result.mux)}, {"command", result.word}};
    if (!result.gate.empty()) record["gate"] = result.gate;
    record["value"] = result.value;
    if (!result.id.empty()) record["id"] = result.id;
    record["result"] = result.result;
    record["explanation"] = result.explanation;
    std::string text = JsonText(record);
    if (result.duplicate) text.insert(text.size() - 1, ",\"duplicate\":true");
    return text;
}

void Say(const std::string& text) {
    ToolLine("event", LocalTimeMsText() + " roderavo: " + text);
}

void Refuse(const Command& command, const std::string& why, Outcome outcome) {
    const CommandRequest request = InterpretCommand(command);
    CommandResult result;
    result.result = KOR_REFUSED;
    result.outcome = request.refusal.empty() ? outcome : Outcome::kRefused;
    result.value = request.value;
    result.explanation = request.refusal.empty() ? why : request.refusal;
    Conclude(command, Completed(command, result, request));
}

void Submit(CommandQueue& queue, Command command, std::size_t unanswered) {
    // The queue takes the command itself; a copy is kept to answer one it refuses.
    Command kept = command;
    if (!queue.Push(std::move(command), unanswered)) Refuse(kept, BusyText(), Outcome::kBusy);
}

void CommandRunner::Run(const Command& command) {
    const CommandRequest request = InterpretCommand(command);
    if (!request.id.empty()) {
        if (auto earlier = queue_.ResultOf(request.id)) {
            Say("command mux/" + command.mux + "/set/" + command.word + " id " + request.id +
                " came again: not run twice");
            earlier->duplicate = true;  // that run's record, told as such
            Answer(command, *earlier);
            return;
        }
    }
    CommandResult result;
    if (!request.refusal.empty()) {
        result.result = KOR_REFUSED;
        result.outcome = Outcome::kRefused;
        result.value = request.value;
        result.explanation = request.refusal;
    } else {
        result = Write(request.assignment);
    }
    result = Completed(command, result, request);
    // What ran (or was refused for good) is remembered by its id: not run again.
    if (!request.id.empty()) queue_.Remember(request.id, result);
    Conclude(command, result);
}

CommandResult CommandRunner::Write(const std::string& assignment) {
    CommandResult result;
    std::string refusal;
    const auto write = PrepareWrite(session_, assignment, &refusal);
    if (!write) {
        result.result = KOR_REFUSED;
        result.outcome = Outcome::kRefused;
        result.explanation = refusal;
        return result;
    }
    const WriteOutcome outcome = SendPreparedWrite(session_, *write);
    if (outcome.status == KOR_OK && write->gate.gate.address.starts_with("TAD"))
        clocksWritten_.push_back(write->gate.gate.parse.plcNum);
    result.result = outcome.status;
    result.outcome = OutcomeOf(outcome.fault);
    result.gate = write->gate.gate.address;
    result.value = write->valueText;
    result.explanation = outcome.explanation.empty() ? result.gate + "=" + result.value + " done"
                                                     : outcome.explanation;
    return result;
}

std::vector<int> CommandRunner::TakeClocksWritten() {
    std::vector<int> written;
    written.swap(clocksWritten_);
    return written;
}

}  // namespace roderavo::tool::bridge
