// What a command in words asks: the command words of the topics (and of the web's
// commands), the payload's value and id, and the assignment `roderavo write` would
// take for them.
#pragma once

#include <string>

#include "bridge/core/command.h"

namespace roderavo::tool::bridge {

// The command words and the gate each writes.
inline constexpr const char* kCommandWords = "key, ptz, preset, caa, inhpair, joy, ihk, clock";

struct CommandRequest {
    std::string assignment;  // ADDRESS=VALUE for the write path; empty when refused here
    std::string value;       // the value as given
    std::string id;          // the sender's command id (JSON payloads), if any
    std::string refusal;     // why it is refused before the write path sees it
};

// The payload is the value text the tool takes (KEY: 53, PRESET: (9,13), clock: now),
// or a JSON object {"value": ..., "id": ...}; ihk takes SUBCOMMAND=(codes), caa an
// empty payload or its own multiplexer. A payload over kLongestPayload is refused
// without being read. A command given as an assignment asks just that.
CommandRequest InterpretCommand(const Command& command);

}  // namespace roderavo::tool::bridge
