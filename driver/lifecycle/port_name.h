// The 12-byte port name of the host's records.
#pragma once

#include <roderavo/kor.h>

#include <array>
#include <cstddef>

namespace roderavo {

inline constexpr std::size_t kPortNameSize = sizeof(PortSettings::PortName);
using PortNameField = char[kPortNameSize];

// Copies the name up to and with its terminator and zero-fills the rest; a name
// without a terminator is copied whole (and no port opens under it).
inline void CopyPortName(PortNameField& to, const PortNameField& from) {
    bool ended = false;
    for (std::size_t i = 0; i < kPortNameSize; ++i) {
        to[i] = ended ? '\0' : from[i];
        if (from[i] == '\0') ended = true;
    }
}

// Byte-by-byte comparison up to the terminator, never past the 12 bytes.
inline bool SamePortName(const PortNameField& a, const PortNameField& b) {
    for (std::size_t i = 0; i < kPortNameSize; ++i) {
        if (a[i] != b[i]) return false;
        if (a[i] == '\0') return true;
    }
    return true;
}

// The name as a zero-terminated text, for log lines.
inline std::array<char, kPortNameSize + 1> PrintablePortName(const PortNameField& name) {
    std::array<char, kPortNameSize + 1> text{};
    for (std::size_t i = 0; i < kPortNameSize && name[i] != '\0'; ++i) text[i] = name[i];
    return text;
}

}  // namespace roderavo
