// The commands that arrive from the broker and the Modbus face: queued in arrival
// order by the network threads and taken by the polling thread between gate reads,
// each on time or not at all; what a command asks (the assignment that `roderavo
// write` would take); and the command ids already run, so that a command sent again
// under the same id is not run twice.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

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

struct Command {
    std::string mux;   // as the topic has it
    std::string word;  // key, ptz, preset, caa, inhpair, joy, ihk, clock
    std::string payload;
    bool retained = false;  // handed over from the broker's retained store
    // A write of the Modbus face instead: the assignment, the client that asked it, and
    // whom to tell the Modbus exception code it ends with (0: done).
    struct Modbus {
        std::string assignment, peer;
        std::function<void(uint8_t exception)> done;
    };
    std::optional<Modbus> modbus{};
    std::chrono::steady_clock::time_point arrived{};  // stamped when queued, unless set
};

// The multiplexer a command goes to: the topic's, or for a Modbus write the digit of
// its gate (CAA: its value); -1 when it names none.
int TargetMux(const Command& command);

// A command taken from the queue: to run, or (a refusal) to answer without running.
struct TakenCommand {
    Command command;
    std::string refusal;  // "multiplexer 3 is absent: not sent", ...
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
    std::size_t Size() const;

  private:
    std::string RefusalOf(const Command& command, Clock::time_point now) const;

    std::chrono::milliseconds deadline_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Command> commands_;
    std::map<int, std::string> unreachable_;
    bool woken_ = false;
    bool closed_ = false;
};

// What a command asks for.
struct CommandRequest {
    std::string assignment;  // ADDRESS=VALUE for the write path; empty when refused here
    std::string value;       // the value as given
    std::string id;          // the sender's command id (JSON payloads), if any
    std::string refusal;     // why it is refused before the write path sees it
};

// The command words and the gate each writes.
inline constexpr const char* kCommandWords = "key, ptz, preset, caa, inhpair, joy, ihk, clock";

// The payload is the value text the tool takes (KEY: 53, PRESET: (9,13), clock: now),
// or a JSON object {"value": ..., "id": ...}; ihk takes SUBCOMMAND=(codes), caa an
// empty payload or its own multiplexer. A payload over kLongestPayload is refused
// without being read.
CommandRequest InterpretCommand(const Command& command);

// The refusal of a command that found the queue full.
std::string BusyText();

// The ids of the latest commands and the result each got.
class SeenCommands {
  public:
    explicit SeenCommands(std::size_t capacity = 1000) : capacity_(capacity) {}
    // The result of the command with this id, when it was run already.
    std::optional<std::string> ResultOf(const std::string& id) const;
    void Remember(const std::string& id, const std::string& result);

  private:
    std::size_t capacity_;
    std::list<std::string> order_;
    std::unordered_map<std::string, std::string> results_;
};

}  // namespace roderavo::tool::bridge
