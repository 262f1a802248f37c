// Every rule about a gate address in one table: for each command word, what
// follows it, where the multiplexer digit and the camera field (or IHK code)
// stand, the command code its frames carry, the kind of gate, and the value kind
// and access class the parse records. The parse, the read and write paths, the
// companion gate names and the host tool all read their positions from here.
#pragma once

#define RODERAVO_TREE_ADDRESS_RULES_H 1  // the tree's own copy, as the layer probes ask

#include <array>
#include <cstddef>
#include <cstdint>

#include "address/camera_range.h"
#include "address/mnemonics.h"

namespace roderavo {

inline constexpr int32_t kValueKindNumber = 0;
inline constexpr int32_t kValueKindText = 7;

inline constexpr int32_t kAccessCompanion = 0;  // filled while another gate is read
inline constexpr int32_t kAccessWriteOnly = 1;
inline constexpr int32_t kAccessReadOnly = 2;
inline constexpr int32_t kAccessReadWrite = 3;

// What follows the command word.
enum class AddressTail : uint8_t {
    None,        // CAA
    Plc,         // m
    PlcCamera,   // m cc, or 4 100 for camera 100
    PlcIhkCode,  // m kkk
};

// What the driver does with a gate of the word.
enum class GateKind : uint8_t {
    StatusRead,       // read by one status request
    Clock,            // read by a status request, written by a control frame
    ControlWrite,     // written by one control frame
    MultiFrameWrite,  // written by two or three control frames
    Companion,        // filled while another gate is read
};

struct AddressRule {
    CommandMnemonic mnemonic;
    AddressTail tail;
    uint8_t muxDigitPos;  // position (from 1) of the multiplexer digit; 0: none
    uint8_t fieldPos;     // position (from 1) of the camera field or IHK code; 0: none
    uint8_t commandCode;  // the command of the gate's frames; 0: none
    GateKind kind;
    int32_t valueKind;
    int32_t accessClass;
};

// One row per command word, in the order of MnemonicTable.
inline constexpr std::array<AddressRule, kMnemonicCount> kAddressRules = {{
    // clang-format off
    // word                     tail                    mux field code  kind                       value kind        access
    {CommandMnemonic::Key,     AddressTail::Plc,        4, 0, 0x06, GateKind::ControlWrite,    kValueKindNumber, kAccessWriteOnly},
    {CommandMnemonic::Ptz,     AddressTail::Plc,        4, 0, 0x16, GateKind::ControlWrite,    kValueKindNumber, kAccessWriteOnly},
    {CommandMnemonic::Als,     AddressTail::PlcCamera,  4, 5, 0x49, GateKind::StatusRead,      kValueKindNumber, kAccessReadOnly},
    {CommandMnemonic::Caa,     AddressTail::None,       4, 0, 0x4D, GateKind::ControlWrite,    kValueKindNumber, kAccessWriteOnly},
    {CommandMnemonic::Aas,     AddressTail::Plc,        4, 0, 0x50, GateKind::StatusRead,      kValueKindNumber, kAccessReadOnly},
    {CommandMnemonic::Vls,     AddressTail::Plc,        4, 0, 0x51, GateKind::StatusRead,      kValueKindNumber, kAccessReadOnly},
    {CommandMnemonic::Ver,     AddressTail::Plc,        4, 0, 0x48, GateKind::StatusRead,      kValueKindText,   kAccessReadOnly},
    {CommandMnemonic::Ihk,     AddressTail::PlcIhkCode, 4, 5, 0x17, GateKind::ControlWrite,    kValueKindText,   kAccessWriteOnly},
    {CommandMnemonic::Tad,     AddressTail::Plc,        4, 0, 0x07, GateKind::Clock,           kValueKindText,   kAccessReadWrite},
    {CommandMnemonic::Joy,     AddressTail::Plc,        4, 0, 0x18, GateKind::ControlWrite,    kValueKindText,   kAccessWriteOnly},
    {CommandMnemonic::Inhpair, AddressTail::Plc,        8, 0, 0x17, GateKind::MultiFrameWrite, kValueKindText,   kAccessWriteOnly},
    {CommandMnemonic::Preset,  AddressTail::Plc,        7, 0, 0x06, GateKind::MultiFrameWrite, kValueKindText,   kAccessWriteOnly},
    {CommandMnemonic::Tas,     AddressTail::PlcCamera,  4, 5, 0x00, GateKind::Companion,       kValueKindText,   kAccessCompanion},
    {CommandMnemonic::Sac,     AddressTail::PlcCamera,  4, 5, 0x00, GateKind::Companion,       kValueKindNumber, kAccessCompanion},
    {CommandMnemonic::Svc,     AddressTail::PlcCamera,  4, 5, 0x00, GateKind::Companion,       kValueKindNumber, kAccessCompanion},
    // clang-format on
}};
// CAA names its multiplexer by the written number; its digit position is where a
// multiplexer digit would stand, read by the write path as the others are.

constexpr const AddressRule& AddressRuleOf(CommandMnemonic mnemonic) {
    return kAddressRules[static_cast<std::size_t>(mnemonic)];
}

constexpr uint8_t CommandCode(CommandMnemonic mnemonic) {
    return AddressRuleOf(mnemonic).commandCode;
}

constexpr bool RulesFollowTheWords() {
    for (std::size_t i = 0; i < kAddressRules.size(); ++i) {
        const AddressRule& rule = kAddressRules[i];
        if (static_cast<std::size_t>(rule.mnemonic) != i) return false;
        // The digit follows the word; a field follows the digit.
        if (rule.muxDigitPos != MnemonicName(rule.mnemonic).size() + 1) return false;
        const bool hasField =
            rule.tail == AddressTail::PlcCamera || rule.tail == AddressTail::PlcIhkCode;
        if (hasField != (rule.fieldPos == rule.muxDigitPos + 1) ||
            (!hasField && rule.fieldPos != 0))
            return false;
    }
    return true;
}
static_assert(RulesFollowTheWords(), "one rule per command word, in order, positions in step");

}  // namespace roderavo
