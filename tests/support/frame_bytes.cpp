#include "support/frame_bytes.h"

#include <cstdio>
#include <utility>

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

std::vector<uint8_t> StatusReply(uint8_t command, uint8_t source,
                                 const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> frame = {
        0xFF, static_cast<uint8_t>(6 + payload.size()), 0xF0, command, source, 0x10};
    frame.insert(frame.end(), payload.begin(), payload.end());
    return Framed(std::move(frame));
}

std::vector<uint8_t> Acknowledgement(uint8_t source, uint8_t status) {
    return Framed({0xFF, 0x07, 0xF0, 0x04, source, 0x10, status});
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
