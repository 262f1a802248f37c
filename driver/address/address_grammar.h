// The form of every accepted gate address: what follows the command word, the
// value kind the gate must have, and the access class and plc number recorded
// for it. Every address rule of the driver lives here.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "mnemonics.h"

namespace roderavo {

inline constexpr int32_t kValueKindNumber = 0;
inline constexpr int32_t kValueKindText = 7;

inline constexpr int32_t kAccessCompanion = 0;  // filled while another gate is read
inline constexpr int32_t kAccessWriteOnly = 1;
inline constexpr int32_t kAccessReadOnly = 2;
inline constexpr int32_t kAccessReadWrite = 3;

// The output words of a parse before any check: plcNum, AccessClass, Reserved1..3.
inline constexpr int32_t kPresetPlcNum = 0;
inline constexpr int32_t kPresetAccessClass = 0;
inline constexpr int32_t kPresetReserved1 = 0;
inline constexpr int32_t kPresetReserved2 = -1;
inline constexpr int32_t kPresetReserved3 = 16;

// What follows the command word.
enum class AddressTail : uint8_t {
    None,        // CAA
    Plc,         // m
    PlcCamera,   // m cc, or 4 100 for camera 100
    PlcIhkCode,  // m kkk
};

struct GrammarRow {
    CommandMnemonic mnemonic;
    AddressTail tail;
    int32_t valueKind;
    int32_t accessClass;
};

// One row per command word, in the order of MnemonicTable.
inline constexpr std::array<GrammarRow, kMnemonicCount> kAddressGrammar = {{
    {CommandMnemonic::Key, AddressTail::Plc, kValueKindNumber, kAccessWriteOnly},
    {CommandMnemonic::Ptz, AddressTail::Plc, kValueKindNumber, kAccessWriteOnly},
    {CommandMnemonic::Als, AddressTail::PlcCamera, kValueKindNumber, kAccessReadOnly},
    {CommandMnemonic::Caa, AddressTail::None, kValueKindNumber, kAccessWriteOnly},
    {CommandMnemonic::Aas, AddressTail::Plc, kValueKindNumber, kAccessReadOnly},
    {CommandMnemonic::Vls, AddressTail::Plc, kValueKindNumber, kAccessReadOnly},
    {CommandMnemonic::Ver, AddressTail::Plc, kValueKindText, kAccessReadOnly},
    {CommandMnemonic::Ihk, AddressTail::PlcIhkCode, kValueKindText, kAccessWriteOnly},
    {CommandMnemonic::Tad, AddressTail::Plc, kValueKindText, kAccessReadWrite},
    {CommandMnemonic::Joy, AddressTail::Plc, kValueKindText, kAccessWriteOnly},
    {CommandMnemonic::Inhpair, AddressTail::Plc, kValueKindText, kAccessWriteOnly},
    {CommandMnemonic::Preset, AddressTail::Plc, kValueKindText, kAccessWriteOnly},
    {CommandMnemonic::Tas, AddressTail::PlcCamera, kValueKindText, kAccessCompanion},
    {CommandMnemonic::Sac, AddressTail::PlcCamera, kValueKindNumber, kAccessCompanion},
    {CommandMnemonic::Svc, AddressTail::PlcCamera, kValueKindNumber, kAccessCompanion},
}};

constexpr bool GrammarFollowsMnemonicTable() {
    for (std::size_t i = 0; i < kAddressGrammar.size(); ++i)
        if (static_cast<std::size_t>(kAddressGrammar[i].mnemonic) != i) return false;
    return true;
}
static_assert(GrammarFollowsMnemonicTable(), "one grammar row per command word, in order");

constexpr const GrammarRow& GrammarRowOf(CommandMnemonic mnemonic) {
    return kAddressGrammar[static_cast<std::size_t>(mnemonic)];
}

// An accepted address, as the driver records and uses it.
struct AddressForm {
    CommandMnemonic mnemonic;
    int32_t plcNum;  // 0 for CAA
    int32_t accessClass;
    int32_t camera;   // 1..100 for the camera forms, else 0
    int32_t ihkCode;  // index into IhkCodeTable for IHK, else -1
};

// Checks a folded address whose command word is known against the row of that
// word, including the gate's value kind. Nothing when any check fails.
std::optional<AddressForm> CheckAddressForm(CommandMnemonic mnemonic, std::string_view address,
                                            int32_t valueKind);

// FindMnemonic, then CheckAddressForm.
std::optional<AddressForm> ParseAddress(std::string_view address, int32_t valueKind);

}  // namespace roderavo
