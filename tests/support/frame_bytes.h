// Multiplexer frames written out byte by byte on the test side, so that no routine
// under test checks itself.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace roderavo_test {

// The checksum over every byte given, bytes 0xFF left out of the sum.
uint8_t Checksum(std::span<const uint8_t> bytes);
// The bytes of a frame before its checksum, the checksum appended.
std::vector<uint8_t> Framed(std::vector<uint8_t> bytes);
// "FF 06 11", for messages and comparisons.
std::string Hex(std::span<const uint8_t> bytes);

}  // namespace roderavo_test
