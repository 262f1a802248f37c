#include "support/frame_bytes.h"

#include <cstdio>

namespace roderavo_test {

uint8_t Checksum(std::span<const uint8_t> bytes) {
    unsigned sum = 0;
    for (const uint8_t byte : bytes)
        if (byte != 0xFF) sum += byte;
    return static_cast<uint8_t>((0x100 - (sum & 0xFF)) & 0xFF);
}

std::vector<uint8_t> Framed(std::vector<uint8_t> bytes) {
    bytes.push_back(Checksum(bytes));
    return bytes;
}

std::string Hex(std::span<const uint8_t> bytes) {
    std::string text;
    char item[4];
    for (const uint8_t byte : bytes) {
        std::snprintf(item, sizeof item, "%02X ", byte);
        text += item;
    }
    if (!text.empty()) text.pop_back();
    return text;
}

}  // namespace roderavo_test
