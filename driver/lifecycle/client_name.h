// The host client name of a driver instance, "VERODI No_%.2d" after its number.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace roderavo {

// At most 19 characters and the terminating zero.
inline constexpr std::size_t kClientNameSize = 20;
using ClientName = std::array<char, kClientNameSize>;

// The number with at least two digits, zero-padded (3 gives "VERODI No_03",
// -5 gives "VERODI No_-05"); a name longer than 19 characters is cut there.
constexpr ClientName FormatClientName(int32_t instanceNumber) {
    constexpr char kPrefix[] = "VERODI No_";
    ClientName name{};
    std::size_t at = 0;
    for (std::size_t i = 0; kPrefix[i] != '\0'; ++i) name[at++] = kPrefix[i];

    std::array<char, 10> digits{};  // a 32-bit magnitude has at most 10
    std::size_t count = 0;
    const bool negative = instanceNumber < 0;
    uint32_t magnitude = negative ? 0U - static_cast<uint32_t>(instanceNumber)
                                  : static_cast<uint32_t>(instanceNumber);
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (count < 2) digits[count++] = '0';

    const auto put = [&](char c) {
        if (at < kClientNameSize - 1) name[at++] = c;
    };
    if (negative) put('-');
    while (count > 0) put(digits[--count]);
    return name;
}

}  // namespace roderavo
