// Text helpers: code page 437 to UTF-8, UTF-8 lengths, value texts.
#pragma once
#define RODERAVO_TREE_TEXT_H 1  // the tree's own copy, as the layer probes ask

#include <chrono>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace roderavo::tool {

// The driver's banner is code page 437; a UTF-8 terminal needs it converted.
std::string Cp437ToUtf8(std::string_view text);

// The items one after another, with the separator between them.
std::string Join(const std::vector<std::string>& items, const std::string& separator = ", ");

// Characters of UTF-8 text (continuation bytes belong to the character before
// them); and the text cut after `count` characters, never inside one.
std::size_t Utf8Length(std::string_view text);
std::string_view Utf8Head(std::string_view text, std::size_t count);

// The clock text of a TAD write for the given local time: (dd,mm,yyyy,hh,mm,ss).
std::string ClockValueText(const std::tm& local);
std::string ClockValueNow();

// The local time now, and as text in a strftime format ("%H:%M:%S").
std::tm LocalNow();
std::string LocalTimeText(const char* format);

// The local time now with milliseconds: "12:34:56.789"; and in ISO 8601 with the
// offset, for JSON records: "2024-05-01T12:34:56.789+02:00".
std::string LocalTimeMsText();
std::string IsoTimestampNow();

// A duration for a person: "850 ms", "12.5 s".
std::string SecondsText(std::chrono::steady_clock::duration duration);

// A number gate's value: decimal (or 0x hex) 0..65535.
std::optional<uint16_t> ParseNumberValue(std::string_view text);

// Durations: "500ms", "2s", "1.5s", or a plain number of milliseconds (or seconds
// when `plainSeconds`). Negative or malformed: nullopt.
std::optional<double> ParseDurationMs(std::string_view text, bool plainSeconds);

}  // namespace roderavo::tool
