// A small fixed text buffer, zero-filled, always zero-terminated: the texts the
// read path composes (gate names, the clock and report texts, the version).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace roderavo {

template <std::size_t Capacity>  // characters, the terminating zero not counted
class ShortText {
  public:
    // Appends as much of text as fits.
    constexpr void Append(std::string_view text) {
        for (const char c : text) {
            if (size_ == Capacity) return;
            chars_[size_++] = c;
        }
    }
    // Appends two lower-case hexadecimal digits, as "%02x" does.
    constexpr void AppendHex(uint8_t byte) {
        constexpr std::string_view kDigits = "0123456789abcdef";
        const char pair[2] = {kDigits[byte >> 4], kDigits[byte & 0x0F]};
        Append({pair, 2});
    }
    // Appends the decimal form of value.
    constexpr void AppendDecimal(int64_t value) {
        char digits[24] = {};
        std::size_t count = 0;
        const bool negative = value < 0;
        uint64_t magnitude =
            negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
        do {
            digits[count++] = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        if (negative) Append("-");
        while (count > 0) Append({&digits[--count], 1});
    }
    constexpr std::string_view View() const { return {chars_.data(), size_}; }
    constexpr const char* CStr() const { return chars_.data(); }

  private:
    std::array<char, Capacity + 1> chars_{};
    std::size_t size_ = 0;
};

}  // namespace roderavo
