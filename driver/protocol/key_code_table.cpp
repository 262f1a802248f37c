#include "key_code_table.h"

namespace roderavo {

namespace {

// The codes outside the run of digits 48..57.
constexpr std::array<int32_t, 6> kControlCodes = {9, 13, 14, 32, 35, 36};
constexpr std::array<int32_t, 30> kLetterCodes = {68,  70,  71,  72,  75,  76,  77,  79,  82,  83,
                                                  85,  97,  99,  101, 102, 104, 105, 106, 107, 110,
                                                  112, 113, 114, 115, 118, 119, 121, 122, 203, 205};

}  // namespace

std::array<int32_t, kKeyCodeTableSize> KeyCodeTable{};

void BuildKeyCodeTable() {
    KeyCodeTable.fill(0);
    for (const int32_t code : kControlCodes) KeyCodeTable[static_cast<std::size_t>(code)] = code;
    for (int32_t code = 48; code <= 57; ++code) KeyCodeTable[static_cast<std::size_t>(code)] = code;
    for (const int32_t code : kLetterCodes) KeyCodeTable[static_cast<std::size_t>(code)] = code;
}

bool IsValidKeyCode(int32_t code) {
    if (code < 0 || code >= static_cast<int32_t>(kKeyCodeTableSize)) return false;
    return KeyCodeTable[static_cast<std::size_t>(code)] != 0;
}

}  // namespace roderavo
