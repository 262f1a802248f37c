#include "number_list.h"

#include <algorithm>
#include "base/text_slice.h"

namespace roderavo {

namespace {

constexpr bool IsWhiteSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Decimal conversion: white space skipped, an optional sign, then digits up to
// the first other character. The field is at most nine characters, so the value
// fits.
int32_t FieldValue(std::string_view field) {
    std::size_t i = 0;
    while (i < field.size() && IsWhiteSpace(field[i])) ++i;
    bool negative = false;
    if (i < field.size() && (field[i] == '+' || field[i] == '-')) negative = field[i++] == '-';
    int32_t value = 0;
    for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i)
        value = value * 10 + (field[i] - '0');
    return negative ? -value : value;
}

}  // namespace

bool ParseNumberList(std::string_view text, std::span<int32_t> numbers) {
    for (int32_t& number : numbers) number = 0;
    std::size_t position = text.find('(');
    if (position == std::string_view::npos) return false;
    ++position;
    for (int32_t& number : numbers) {
        const std::size_t end = std::min(text.find_first_of(",)", position), text.size());
        const std::string_view field = Slice(text, position, end - position);
        if (field.size() > kNumberFieldLimit) return false;
        number = FieldValue(field);
        if (end == text.size() || text[end] == ')') break;
        position = end + 1;
    }
    return true;
}

std::size_t CommasBeforeClose(std::string_view text) {
    std::size_t commas = 0;
    for (const char c : text) {
        if (c == ')') break;
        if (c == ',') ++commas;
    }
    return commas;
}

bool HasParentheses(std::string_view text) {
    return text.find('(') != std::string_view::npos && text.find(')') != std::string_view::npos;
}

}  // namespace roderavo
