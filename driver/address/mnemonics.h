// The command words a gate address starts with, the IHK subcommand codes and the
// five lists the words are matched in.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace roderavo {

// In the fixed order of MnemonicTable; the Tag Format dialog lists them the same way.
enum class CommandMnemonic : uint8_t {
    Key,
    Ptz,
    Als,
    Caa,
    Aas,
    Vls,
    Ver,
    Ihk,
    Tad,
    Joy,
    Inhpair,
    Preset,
    Tas,
    Sac,
    Svc,
};

inline constexpr std::size_t kMnemonicCount = 15;

inline constexpr std::array<std::string_view, kMnemonicCount> MnemonicTable = {
    "KEY", "PTZ", "ALS",     "CAA",    "AAS", "VLS", "VER", "IHK",
    "TAD", "JOY", "INHPAIR", "PRESET", "TAS", "SAC", "SVC",
};

constexpr std::string_view MnemonicName(CommandMnemonic mnemonic) {
    return MnemonicTable[static_cast<std::size_t>(mnemonic)];
}

// The subcommand codes an IHK address may carry.
inline constexpr std::size_t kIhkCodeLength = 3;
inline constexpr std::array<std::string_view, 6> IhkCodeTable = {"070", "075", "077",
                                                                 "079", "083", "118"};

// The lists the parse matches in, in the order it tries them. Lists 1 to 4 are
// matched against the first three characters of an address, list 5 against the
// whole address less its last character.
inline constexpr std::array<CommandMnemonic, 6> kMatchList1 = {
    CommandMnemonic::Key, CommandMnemonic::Ptz, CommandMnemonic::Als,
    CommandMnemonic::Caa, CommandMnemonic::Aas, CommandMnemonic::Vls};
inline constexpr std::array<CommandMnemonic, 1> kMatchList2 = {CommandMnemonic::Tas};
inline constexpr std::array<CommandMnemonic, 2> kMatchList3 = {CommandMnemonic::Sac,
                                                               CommandMnemonic::Svc};
inline constexpr std::array<CommandMnemonic, 4> kMatchList4 = {
    CommandMnemonic::Ver, CommandMnemonic::Ihk, CommandMnemonic::Tad, CommandMnemonic::Joy};
inline constexpr std::array<CommandMnemonic, 2> kMatchList5 = {CommandMnemonic::Inhpair,
                                                               CommandMnemonic::Preset};

}  // namespace roderavo
