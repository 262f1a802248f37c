// The characters allowed after a three-letter command word: the plc number, then
// the two digits of a camera number.
#pragma once

#include <array>
#include <string_view>

namespace roderavo {

inline constexpr std::array<std::string_view, 3> PositionCharSets = {"01234", "0123456789",
                                                                     "0123456789"};

inline constexpr std::string_view kPlcDigits = PositionCharSets[0];

constexpr bool InCharSet(std::string_view set, char c) {
    return set.find(c) != std::string_view::npos;
}

}  // namespace roderavo
