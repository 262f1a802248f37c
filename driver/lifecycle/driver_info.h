// What GetInfo tells the host about the driver: its name, its banner and the
// default line settings.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace roderavo {

inline constexpr uint32_t kInfoWord1 = 70;
inline constexpr uint32_t kInfoWord4 = 35;
inline constexpr uint32_t kInfoWord5 = 4;
inline constexpr uint16_t kInfoBaudRate = 9600;
inline constexpr uint16_t kInfoDataBits = 8;
inline constexpr uint16_t kInfoStopBits = 0;  // one stop bit
inline constexpr uint16_t kInfoParity = 0;    // none
inline constexpr uint32_t kInfoWord8 = 32;

inline constexpr char kDriverName[] = "Amux";

// The banner: a line feed, then six lines of 62 code page 437 characters, each
// ended by a line feed, and the terminating zero.
inline constexpr std::size_t kBannerLineWidth = 62;
inline constexpr std::size_t kBannerInnerWidth = kBannerLineWidth - 2;
inline constexpr std::size_t kBannerLength = 1 + 6 * (kBannerLineWidth + 1);  // 379
using Banner = std::array<char, kBannerLength + 1>;

// The fifth line's text, padded with spaces to sixty characters.
inline constexpr std::string_view kBannerVersionText =
    "  roderavo 0.1.0   serial driver for the Amux 20CD";
static_assert(kBannerVersionText.size() <= kBannerInnerWidth);

namespace banner_detail {

inline constexpr char kVertical = static_cast<char>(0xB3);
inline constexpr char kHorizontal = static_cast<char>(0xC4);
inline constexpr char kTopLeft = static_cast<char>(0xDA);
inline constexpr char kTopRight = static_cast<char>(0xBF);
inline constexpr char kBottomLeft = static_cast<char>(0xC0);
inline constexpr char kBottomRight = static_cast<char>(0xD9);
inline constexpr char kFull = static_cast<char>(0xDB);
inline constexpr char kDark = static_cast<char>(0xB2);
inline constexpr char kMedium = static_cast<char>(0xB1);
inline constexpr char kLight = static_cast<char>(0xB0);

struct Writer {
    Banner text{};
    std::size_t at = 0;
    constexpr void Put(char c, std::size_t times = 1) {
        for (std::size_t i = 0; i < times; ++i) text[at++] = c;
    }
    constexpr void Put(std::string_view s) {
        for (const char c : s) text[at++] = c;
    }
};

constexpr Banner BuildBanner() {
    Writer w;
    w.Put('\n');
    w.Put(kTopLeft);
    w.Put(kHorizontal, kBannerInnerWidth);
    w.Put(kTopRight);
    w.Put('\n');

    w.Put(kVertical);
    w.Put(' ');
    w.Put(kFull, 5);
    w.Put(kDark, 6);
    w.Put(kMedium, 6);
    w.Put(kLight, 6);
    w.Put("  K O R ZUR  ");
    w.Put(kLight, 4);
    w.Put(kMedium, 6);
    w.Put(kDark, 6);
    w.Put(kFull, 5);
    w.Put("  ");
    w.Put(kVertical);
    w.Put('\n');

    w.Put(kVertical);
    w.Put(' ', 12);
    w.Put("Amux 20CD Multiplexer, Vision System.");
    w.Put(' ', 11);
    w.Put(kVertical);
    w.Put('\n');

    w.Put(kVertical);
    w.Put(' ', 8);
    w.Put("ADPRO Inter-Equipment Communication protocol");
    w.Put(' ', 8);
    w.Put(kVertical);
    w.Put('\n');

    w.Put(kVertical);
    w.Put(kBannerVersionText);
    w.Put(' ', kBannerInnerWidth - kBannerVersionText.size());
    w.Put(kVertical);
    w.Put('\n');

    w.Put(kBottomLeft);
    w.Put(kHorizontal, kBannerInnerWidth);
    w.Put(kBottomRight);
    w.Put('\n');
    w.Put('\0');
    return w.text;
}

}  // namespace banner_detail

inline constexpr Banner kInfoBanner = banner_detail::BuildBanner();
static_assert(kInfoBanner[kBannerLength] == '\0' && kInfoBanner[kBannerLength - 1] == '\n');

}  // namespace roderavo
