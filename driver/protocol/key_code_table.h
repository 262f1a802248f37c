// The keypad codes the multiplexer accepts.
#pragma once

#include <array>
#include <cstdint>

namespace roderavo {

inline constexpr std::size_t kKeyCodeTableSize = 840;

// Entry i is i when i is a key code, else 0. One per process; Init builds it.
extern std::array<int32_t, kKeyCodeTableSize> KeyCodeTable;

// Clears the table, then enters every valid code.
void BuildKeyCodeTable();

// True when 0 <= code < 840 and the table holds the code.
bool IsValidKeyCode(int32_t code);

}  // namespace roderavo
