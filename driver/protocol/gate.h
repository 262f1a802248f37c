// A gate and a line as the read and write paths see them: narrow values that the
// operations make out of the host's records.
#pragma once

#define RODERAVO_TREE_GATE_H 1  // the tree's own copy, as the layer probes ask

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "address/mnemonics.h"
#include "serial/comm.h"

namespace roderavo {

// The longest address the read and write paths look at.
inline constexpr std::size_t kGateAddressLimit = 39;

// Where a gate's value lives: the number of a number gate, the text buffer of a
// text gate. Both point into the same host buffer; the gate's value kind says
// which one is meant. Null when the host gave no buffer.
struct GateValue {
    uint16_t* number = nullptr;
    char* text = nullptr;
};

struct Gate {
    const char* hostAddress = "";         // the address as the host gave it, for log lines
    std::string_view address;             // at most kGateAddressLimit + 1 characters of it
    std::optional<CommandMnemonic> word;  // the command word it starts with
    int32_t plcNum = 0;                   // as the parse recorded it
    int32_t accessClass = 0;
    int32_t valueKind = 0;
    GateValue value;
};

// The line of a driver instance: its port, and its client and instance number at
// the host, under which the companion gates are found.
struct Line {
    PortHandle port = 0;
    uint8_t clientId = 0;
    uint32_t instance = 0;
};

}  // namespace roderavo
