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
// A status reply from the multiplexer at source: FF L F0 command source 10 payload checksum.
std::vector<uint8_t> StatusReply(uint8_t command, uint8_t source,
                                 const std::vector<uint8_t>& payload);
// An acknowledgement from the multiplexer at source: FF 07 F0 04 source 10 status checksum.
std::vector<uint8_t> Acknowledgement(uint8_t source, uint8_t status = 0x00);
// "FF 06 11", for messages and comparisons.
std::string Hex(std::span<const uint8_t> bytes);

}  // namespace roderavo_test
