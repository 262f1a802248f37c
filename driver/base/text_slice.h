// Cutting pieces out of a text view without the checks that throw: a position
// past the end gives an empty piece, a count past the end stops at the end.
#pragma once

#include <cstddef>
#include <string_view>

namespace roderavo {

constexpr std::string_view Slice(std::string_view text, std::size_t position,
                                 std::size_t count = std::string_view::npos) {
    if (position >= text.size()) return {};
    const std::size_t available = text.size() - position;
    return {text.data() + position, count < available ? count : available};
}

}  // namespace roderavo
