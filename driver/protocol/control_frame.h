// Control request frames and the limits of what the write builders accept.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "protocol/frame.h"
#include "protocol/gate.h"

namespace roderavo {

// The longest address and value text a builder takes; longer ones are refused.
inline constexpr std::size_t kBuilderAddressLimit = 9;
inline constexpr std::size_t kValueTextLimit = 29;

// Fills a control request: start byte, length byte, the multiplexer's address
// byte, the command, 0x3E, 0x10, the payload and the checksum. Returns the
// frame's size (the length byte plus one), 0 for a payload the buffer cannot hold.
uint16_t FillControlFrame(RequestBuffer& frame, uint8_t muxAddress, uint8_t command,
                          std::span<const uint8_t> payload);

// True when the gate's address is short enough for a builder.
bool BuilderTakesAddress(const Gate& gate);
// The written text of a text gate; longer than kValueTextLimit when refused.
std::string_view ValueText(const Gate& gate);

// The address byte of the multiplexer whose digit the gate's address carries
// where the rule of its word puts it; a character that is not a digit counts as 0.
uint8_t DigitMuxAddress(const Gate& gate);

}  // namespace roderavo
