// The tool's JSON output: one record per line on stdout, made with nlohmann-json.
// Strings are UTF-8: what the user typed is echoed as typed, what the device or
// the driver sent is converted from code page 437 where it is received; a byte
// sequence that is not UTF-8 is shown with U+FFFD, never dropped or thrown on.
#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>

namespace roderavo::tool {

using Json = nlohmann::ordered_json;

// The record as one line of text, without the line end.
std::string JsonText(const Json& record);

// Prints the record on its own line of stdout and flushes it, so that a reader
// sees each record at once and a closed pipe shows as a failed stream. A record
// without a "time" gets the host's time now, before its other fields.
void PrintJsonLine(const Json& record);

// A number as JSON shows it: whole values as integers (1, not 1.0); null when empty.
Json JsonNumber(std::optional<double> value);

// The record's time stamp: {"time": "2024-05-01T12:34:56.789+02:00"} to begin with.
Json TimedRecord();

}  // namespace roderavo::tool
