// Reading the texts the host hands over (addresses, written values) without
// looking past their end or past a limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace roderavo {

// A view of a zero-terminated text that looks at no more than limit + 1
// characters: a result longer than limit means the text is longer than limit.
std::string_view BoundedText(const char* text, std::size_t limit);

// True when text starts with word once folded with UpcaseChar.
bool StartsWithFolded(std::string_view text, std::string_view word);

// The decimal value of the digits of text from position (counted from 1), at
// most count of them, up to the first character that is not a digit.
uint32_t DecimalAt(std::string_view text, std::size_t position, std::size_t count);

}  // namespace roderavo
