// What the read and write paths take from and give to the host's GateParams:
// the value kinds and access classes, the number record and the text buffer.
#pragma once

#include <roderavo/kor.h>

#include <cstdint>
#include <string_view>

namespace roderavo {

inline constexpr int32_t kValueKindNumber = 0;
inline constexpr int32_t kValueKindText = 7;

inline constexpr int32_t kAccessCompanion = 0;
inline constexpr int32_t kAccessWriteOnly = 1;
inline constexpr int32_t kAccessReadOnly = 2;
inline constexpr int32_t kAccessReadWrite = 3;

// The written number of a number gate (bytes 2-3 of its value record).
bool ReadGateNumber(const GateParams& gate, uint16_t& number);
// Stores a number into a number gate's value record.
bool WriteGateNumber(const GateParams& gate, uint16_t number);
// Copies a text with its terminating zero into a text gate's buffer.
bool WriteGateText(const GateParams& gate, std::string_view text);

// A view of a zero-terminated text that looks at no more than limit + 1
// characters: a result longer than limit means the text is longer than limit.
std::string_view BoundedText(const char* text, std::size_t limit);

// True when text starts with word once folded with UpcaseChar.
bool StartsWithFolded(std::string_view text, std::string_view word);

// The decimal value of the digits of text from position (counted from 1), at
// most count of them, up to the first character that is not a digit.
uint32_t DecimalAt(std::string_view text, std::size_t position, std::size_t count);

}  // namespace roderavo
