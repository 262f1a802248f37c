// Runs the commands taken from the queue on the line (the polling thread only): a
// command in words is read into its assignment, a command id already run gets that
// run's record again, the assignment goes through the write path of `roderavo write`,
// and every command ends in one record, logged and handed to its face's answer.
#pragma once

#include <string>
#include <vector>

#include "bridge/core/command.h"
#include "bridge/core/command_queue.h"
#include "line/session.h"
#include "output/json_out.h"

namespace roderavo::tool::bridge {

class CommandRunner {
  public:
    // The queue remembers the ids that ran.
    CommandRunner(Session& session, CommandQueue& queue) : session_(session), queue_(queue) {}

    // Runs the command and answers it; on the polling thread.
    void Run(const Command& command);
    // The multiplexers whose clock a command has set since the last call: read anew.
    std::vector<int> TakeClocksWritten();

  private:
    CommandResult Write(const std::string& assignment);

    Session& session_;
    CommandQueue& queue_;
    std::vector<int> clocksWritten_;
};

// Answers a command that is not run (on whichever thread finds it so): `why` unless
// the command itself is refused already, with the outcome given (not sent, busy).
void Refuse(const Command& command, const std::string& why, Outcome outcome);

// The record as JSON, as every face that speaks JSON gives it: {"mux", "command",
// "gate" (when it came that far), "value", "id" (when given), "result", "explanation"},
// and "duplicate": true last for a repeated id's earlier record.
std::string ResultRecord(const CommandResult& result);

// A command handed in by a face: queued, or (the queue full or closed) answered busy at
// once. `unanswered`: the face's results that wait to be delivered.
void Submit(CommandQueue& queue, Command command, std::size_t unanswered = 0);

}  // namespace roderavo::tool::bridge
