// Finding the command word of a folded address.
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "mnemonics.h"

namespace roderavo {

// The member of the list equal to the first three characters of the address (all of
// it, when it is shorter); nothing when no member is.
std::optional<CommandMnemonic> MatchMnemonicPrefix(std::string_view address,
                                                   std::span<const CommandMnemonic> list);

// The member of the list equal to the address without its last character; nothing
// when no member is (or the address is empty).
std::optional<CommandMnemonic> MatchMnemonicWord(std::string_view address,
                                                 std::span<const CommandMnemonic> list);

// Lists 1 to 4 by prefix, in that order, then list 5 by word.
std::optional<CommandMnemonic> FindMnemonic(std::string_view address);

}  // namespace roderavo
