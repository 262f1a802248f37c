#include "mnemonic_match.h"
#include "base/text_slice.h"

namespace roderavo {

namespace {

constexpr std::size_t kPrefixLength = 3;

std::optional<CommandMnemonic> MatchExactly(std::string_view text,
                                            std::span<const CommandMnemonic> list) {
    for (const CommandMnemonic mnemonic : list)
        if (MnemonicName(mnemonic) == text) return mnemonic;
    return std::nullopt;
}

}  // namespace

std::optional<CommandMnemonic> MatchMnemonicPrefix(std::string_view address,
                                                   std::span<const CommandMnemonic> list) {
    return MatchExactly(Slice(address, 0, kPrefixLength), list);
}

std::optional<CommandMnemonic> MatchMnemonicWord(std::string_view address,
                                                 std::span<const CommandMnemonic> list) {
    if (address.empty()) return std::nullopt;
    address.remove_suffix(1);
    return MatchExactly(address, list);
}

std::optional<CommandMnemonic> FindMnemonic(std::string_view address) {
    if (auto m = MatchMnemonicPrefix(address, kPrimaryWords)) return m;
    if (auto m = MatchMnemonicPrefix(address, kReportCompanionWords)) return m;
    if (auto m = MatchMnemonicPrefix(address, kListCompanionWords)) return m;
    if (auto m = MatchMnemonicPrefix(address, kMultiplexerWords)) return m;
    return MatchMnemonicWord(address, kLongWords);
}

}  // namespace roderavo
