// The case fold applied to a copy of an address before it is interpreted.
#pragma once

#include <cstdint>

namespace roderavo {

// 0x61..0x7F lose 0x20 ("a".."z" become "A".."Z", 0x7B..0x7F become 0x5B..0x5F);
// every other character, 0x80..0xFF included, stays.
constexpr char UpcaseChar(char c) {
    const auto byte = static_cast<uint8_t>(c);
    return (byte >= 0x61 && byte <= 0x7F) ? static_cast<char>(byte - 0x20) : c;
}

}  // namespace roderavo
