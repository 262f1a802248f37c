#include "output/text.h"

#include "system/platform.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <cstdlib>

namespace roderavo::tool {

namespace {

// Code points of 0x80..0xFF in code page 437.
constexpr std::array<char16_t, 128> kCp437High = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

}  // namespace

std::string Cp437ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 3);
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        AppendUtf8(out, byte < 0x80 ? char32_t{byte} : char32_t{kCp437High[byte - 0x80u]});
    }
    return out;
}

namespace {

bool Continues(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

}  // namespace

std::size_t Utf8Length(std::string_view text) {
    std::size_t count = 0;
    for (char c : text) count += Continues(c) ? 0 : 1;
    return count;
}

std::string_view Utf8Head(std::string_view text, std::size_t count) {
    std::size_t at = 0;
    for (std::size_t seen = 0; at < text.size(); ++at) {
        if (!Continues(text[at]) && seen++ == count) break;
    }
    return text.substr(0, at);
}

std::string ClockValueText(const std::tm& local) {
    char text[96];
    std::snprintf(text, sizeof text, "(%02d,%02d,%04d,%02d,%02d,%02d)", local.tm_mday,
                  local.tm_mon + 1, (local.tm_year + 1900) % 10000, local.tm_hour, local.tm_min,
                  local.tm_sec > 59 ? 59 : local.tm_sec);
    return text;
}

std::string ClockValueNow() {
    return ClockValueText(LocalNow());
}

std::tm LocalNow() {
    return LocalTime(std::time(nullptr));
}

std::string LocalTimeText(const char* format) {
    const std::tm local = LocalNow();
    char text[64];
    std::strftime(text, sizeof text, format, &local);
    return text;
}

namespace {

// The local time of one instant in a strftime format, with ".mmm" after it.
std::string LocalMsText(const char* format, bool offset) {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const std::tm local = LocalTime(seconds);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    char text[64];
    std::strftime(text, sizeof text, format, &local);
    char fraction[8];
    std::snprintf(fraction, sizeof fraction, ".%03d", static_cast<int>(ms));
    std::string out = std::string(text) + fraction;
    if (offset) {
        char zone[8];
        std::strftime(zone, sizeof zone, "%z", &local);  // +0200
        const std::string z = zone;
        out += z.size() == 5 ? z.substr(0, 3) + ":" + z.substr(3) : z;
    }
    return out;
}

}  // namespace

std::string LocalTimeMsText() {
    return LocalMsText("%H:%M:%S", false);
}

std::string IsoTimestampNow() {
    return LocalMsText("%Y-%m-%dT%H:%M:%S", true);
}

std::string SecondsText(std::chrono::steady_clock::duration duration) {
    const double ms = std::chrono::duration<double, std::milli>(duration).count();
    char text[32];
    if (ms < 1000)
        std::snprintf(text, sizeof text, "%.0f ms", ms);
    else
        std::snprintf(text, sizeof text, "%.1f s", ms / 1000);
    return text;
}

std::optional<uint16_t> ParseNumberValue(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size() || value > 0xFFFF)
        return std::nullopt;
    return static_cast<uint16_t>(value);
}

std::optional<double> ParseDurationMs(std::string_view text, bool plainSeconds) {
    double scale = plainSeconds ? 1000.0 : 1.0;
    if (text.ends_with("ms")) {
        text.remove_suffix(2);
        scale = 1.0;
    } else if (text.ends_with("s")) {
        text.remove_suffix(1);
        scale = 1000.0;
    } else if (text.ends_with("m")) {
        text.remove_suffix(1);
        scale = 60000.0;
    }
    const std::string number(text);
    if (number.empty()) return std::nullopt;
    char* end = nullptr;
    const double value = std::strtod(number.c_str(), &end);
    if (end != number.c_str() + number.size() || !(value >= 0) || value > 1e9) return std::nullopt;
    return value * scale;
}

std::string Join(const std::vector<std::string>& items, const std::string& separator) {
    std::string text;
    for (const auto& item : items) text += (text.empty() ? "" : separator) + item;
    return text;
}

}  // namespace roderavo::tool
