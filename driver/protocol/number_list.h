// The parenthesised number list of a written text: "(9,13,14)".
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace roderavo {

// The longest number field a list may hold.
inline constexpr std::size_t kNumberFieldLimit = 9;

// Reads numbers.size() signed decimal numbers from the fields that follow the
// first opening parenthesis; a field ends at a comma, a closing parenthesis or
// the end of the text, an empty or digitless field reads 0, and fields after
// the list's end are 0. False when the text has no opening parenthesis or a
// field read is longer than kNumberFieldLimit.
bool ParseNumberList(std::string_view text, std::span<int32_t> numbers);

// Counts the commas from the start of text up to its first closing parenthesis.
std::size_t CommasBeforeClose(std::string_view text);

// The write texts' common form: an opening and a closing parenthesis somewhere.
bool HasParentheses(std::string_view text);

}  // namespace roderavo
