// The commands that the faces hand in (MQTT commands, Modbus writes, the web's),
// queued in arrival order by the faces' threads and taken by the polling thread
// between gate reads, each on time or not at all; and the command ids already run, so
// that a command sent again under the same id is not run twice.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "bridge/core/command.h"

namespace roderavo::tool::bridge {

// What the queue holds at most: a command that arrives beyond is answered busy at
// once and not kept, and a payload longer than any command needs is refused before
// it is kept; so the queue holds at most 256 kB of payloads.
inline constexpr std::size_t kQueuedCommands = 256;
inline constexpr std::size_t kLongestPayload = 1024;
// How long a command may wait for the line by default (--command-deadline): one
// that has not started by then is answered and dropped, so that it never runs after
// its sender has given it up (and sent it again).
inline constexpr std::chrono::milliseconds kCommandDeadline{2000};

// A command taken from the queue: to run, or (a refusal) to answer without running.
struct TakenCommand {
    Command command;
    std::string refusal;  // "multiplexer 3 is absent: not sent", ...
};

// The ids of the latest commands and the record each ended with.
class SeenCommands {
  public:
    explicit SeenCommands(std::size_t capacity = 1000) : capacity_(capacity) {}
    // The record of the command with this id, when it was run already.
    std::optional<CommandResult> ResultOf(const std::string& id) const;
    void Remember(const std::string& id, const CommandResult& result);

  private:
    std::size_t capacity_;
    std::list<std::string> order_;
    std::unordered_map<std::string, CommandResult> results_;
};

class CommandQueue {
  public:
    using Clock = std::chrono::steady_clock;
    explicit CommandQueue(std::chrono::milliseconds deadline = kCommandDeadline)
        : deadline_(deadline) {}

    // Queues the command unless `kQueuedCommands` are counted already: those queued
    // and the `unanswered` ones (run, their results not yet delivered); or once the
    // queue is closed.
    bool Push(Command command, std::size_t unanswered = 0);
    // The multiplexers that commands are not sent to, each with the word for why
    // ("absent", "demoted"): their time-outs would hold every command behind.
    void SetUnreachable(std::map<int, std::string> muxes);
    // The oldest command, refused when it waited past the deadline or goes to a
    // multiplexer that cannot be reached.
    std::optional<TakenCommand> TryPop(Clock::time_point now);
    // Every queued command that may not run any more, while the line is busy.
    std::vector<TakenCommand> TakeRefused(Clock::time_point now);
    // Every queued command, refused for `why`; the queue takes no more.
    std::vector<TakenCommand> Close(const std::string& why);
    // Waits until a command is queued, Wake() is called or the time is up.
    void WaitUntil(Clock::time_point until);
    void Wake();
    // Counts the queue's changes: a command queued, the unreachable multiplexers
    // changed, Wake(), Close().
    uint64_t Changes() const;
    // Waits, without waking in between, until the queue changed since `seen` or a
    // queued command's deadline has passed: then TakeRefused has work.
    void WaitForRefusals(uint64_t seen);
    std::size_t Size() const;
    // What ran (or was refused for good), remembered by its id; the record of the one
    // with this id. A repeat of an id that ran is not refused (not sent, unreachable):
    // it is taken, to be answered with that record. Any thread.
    void Remember(const std::string& id, const CommandResult& result);
    std::optional<CommandResult> ResultOf(const std::string& id) const;

  private:
    std::string RefusalOf(const Command& command, Clock::time_point now) const;
    // A repeat of an id that ran: never refused, answered with that run's record.
    bool Repeat(const Command& command) const;

    std::chrono::milliseconds deadline_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Command> commands_;
    std::map<int, std::string> unreachable_;
    bool woken_ = false;
    bool closed_ = false;
    uint64_t changes_ = 0;
    SeenCommands seen_;
};

// The refusal of a command that found the queue full.
std::string BusyText();

}  // namespace roderavo::tool::bridge
