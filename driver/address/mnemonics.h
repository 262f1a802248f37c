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

// The lists the parse matches in, in the order it tries them (lists 1 to 5). Lists
// 1 to 4 are matched against the first three characters of an address, list 5
// against the whole address less its last character.
// 1: the words most gates start with.
inline constexpr std::array<CommandMnemonic, 6> kPrimaryWords = {
    CommandMnemonic::Key, CommandMnemonic::Ptz, CommandMnemonic::Als,
    CommandMnemonic::Caa, CommandMnemonic::Aas, CommandMnemonic::Vls};
// 2: the companion of the alarm report.
inline constexpr std::array<CommandMnemonic, 1> kReportCompanionWords = {CommandMnemonic::Tas};
// 3: the companions of the camera lists.
inline constexpr std::array<CommandMnemonic, 2> kListCompanionWords = {CommandMnemonic::Sac,
                                                                       CommandMnemonic::Svc};
// 4: the words of the multiplexer as a whole.
inline constexpr std::array<CommandMnemonic, 4> kMultiplexerWords = {
    CommandMnemonic::Ver, CommandMnemonic::Ihk, CommandMnemonic::Tad, CommandMnemonic::Joy};
// 5: the long words, matched whole.
inline constexpr std::array<CommandMnemonic, 2> kLongWords = {CommandMnemonic::Inhpair,
                                                              CommandMnemonic::Preset};

}  // namespace roderavo
