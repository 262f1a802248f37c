// The case-folded working copy of an address that the driver interprets; the
// host's text is never changed.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace roderavo {

// No valid address is longer than eight characters. The copy keeps one character
// more, so that a longer address keeps a length that no form accepts.
inline constexpr std::size_t kMaxAddressLength = 8;
inline constexpr std::size_t kFoldedAddressCapacity = kMaxAddressLength + 1;

struct FoldedAddress {
    std::array<char, kFoldedAddressCapacity + 1> text{};  // always NUL-terminated
    std::size_t length = 0;  // min(length of the host's text, kFoldedAddressCapacity)

    std::string_view View() const { return {text.data(), length}; }
};

// Folds at most kFoldedAddressCapacity characters of a NUL-terminated address with
// UpcaseChar; reads nothing past the terminator. A null address folds to "".
FoldedAddress FoldAddress(const char* address);

}  // namespace roderavo
