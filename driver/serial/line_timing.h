// The time a line needs for its bytes, and the time-outs that follow from it.
#pragma once

#include <cstdint>

namespace roderavo {

// Milliseconds one character takes on the line (start bit, data bits, parity bit,
// stop bits), rounded up; at least 1. One and a half stop bits count as two.
constexpr uint32_t CharacterTimeMs(uint32_t baudRate, uint16_t dataBits, uint16_t parity,
                                   uint16_t stopBits) {
    if (baudRate == 0) return 1;
    const uint32_t bits =
        1u + (dataBits & 0xFFu) + (parity != 0 ? 1u : 0u) + (stopBits != 0 ? 2u : 1u);
    const uint32_t ms = (bits * 1000u + baudRate - 1u) / baudRate;
    return ms == 0 ? 1 : ms;
}

// A piece of a reply must arrive within the read time-out plus twice its own
// wire time: the read multiplier per character.
inline constexpr uint32_t kReadWireFactor = 2;

}  // namespace roderavo
