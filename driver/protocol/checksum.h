// The frame checksum of the multiplexer protocol.
#pragma once

#include <cstdint>
#include <span>

namespace roderavo {

// The checksum of frame positions 0..count-1: the two's complement of the sum of
// every byte that is not 0xFF (the start byte and 0xFF payload bytes are left
// out), modulo 256. Bytes past the end of the frame are never read.
constexpr uint8_t ComputeChecksum(std::span<const uint8_t> frame, std::size_t count) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < count && i < frame.size(); ++i)
        if (frame[i] != 0xFF) sum += frame[i];
    return static_cast<uint8_t>((256u - (sum & 0xFFu)) & 0xFFu);
}

}  // namespace roderavo
