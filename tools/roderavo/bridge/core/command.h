// A command that a face hands in, and the one record of how it ended: every face
// answers its sender from that record (MQTT its result message, Modbus its exception
// code, the web its status), so a command is judged and told alike whichever face
// brought it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace roderavo::tool::bridge {

// How a command ended.
enum class Outcome : uint8_t {
    kDone,          // the multiplexer acknowledged it
    kRefused,       // refused before the line: the command, its value, its multiplexer digit
    kNotSent,       // taken from the queue unsent: its multiplexer absent or demoted, its
                    // deadline passed, the bridge stopping
    kBusy,          // the queue was full: not queued
    kRefusedByMux,  // the multiplexer refused it
    kLineFailed,    // the line failed: no acknowledgement
};

struct CommandResult {
    Outcome outcome = Outcome::kDone;
    int32_t result = 0;     // the driver's: KOR_OK, KOR_REFUSED before the line, a failure
    std::string mux, word;  // the command's (a command in words)
    std::string gate;       // the gate written, when it came that far
    std::string value;      // the value as sent (a clock's "now" as the time it set)
    std::string given;      // the value as the sender gave it
    std::string id;         // the sender's command id, if any
    std::string explanation;
    bool duplicate = false;  // its id was run before: this is that run's record
};

struct Command {
    std::string face = "mqtt";  // whose: mqtt, modbus, http (the log says it)
    // A command in words (MQTT, the web): the multiplexer as the sender named it, the
    // command word and the payload.
    std::string mux, word, payload;
    bool retained = false;  // handed over from the broker's retained store
    // Or an assignment (a Modbus write: KEY1=53), and the peer that asked it.
    std::string assignment, peer;
    // Told how it ended, once, on whichever thread ends it; it must not block.
    std::function<void(const CommandResult&)> answer{};
    std::chrono::steady_clock::time_point arrived{};  // stamped when queued, unless set
};

// The multiplexer a command goes to: its mux, or the digit of its assignment's gate
// (CAA: the value); -1 when it names none.
int TargetMux(const Command& command);

// The log line of a command that ended: "command mux/1/set/key 53: 0 KEY1=53 done",
// "modbus: 10.0.0.9:50212 wrote KEY1=53: 0 KEY1=53 done".
std::string CommandLogLine(const Command& command, const CommandResult& result);

}  // namespace roderavo::tool::bridge
