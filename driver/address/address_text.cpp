#include "address/address_text.h"

#include "address/upcase_char.h"

namespace roderavo {

std::string_view BoundedText(const char* text, std::size_t limit) {
    if (text == nullptr) return {};
    std::size_t length = 0;
    while (length <= limit && text[length] != '\0') ++length;
    return {text, length};
}

bool StartsWithFolded(std::string_view text, std::string_view word) {
    if (text.size() < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (UpcaseChar(text[i]) != word[i]) return false;
    return true;
}

uint32_t DecimalAt(std::string_view text, std::size_t position, std::size_t count) {
    uint32_t value = 0;
    for (std::size_t i = position - 1; i < text.size() && i < position - 1 + count; ++i) {
        if (text[i] < '0' || text[i] > '9') break;
        value = value * 10 + static_cast<uint32_t>(text[i] - '0');
    }
    return value;
}

}  // namespace roderavo
