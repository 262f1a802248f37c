// The wait before the next try to reach the broker, spread at random around its
// nominal length: bridges that lose one broker at once (a restart) try again each at
// its own time, not in one burst.
#pragma once

#include <chrono>
#include <random>

namespace roderavo::tool::bridge {

// A wait is spread by up to a quarter of its nominal length either way.
inline constexpr double kBackoffJitter = 0.25;

// `nominal` times a factor drawn from `random` in [0.75, 1.25], and no longer than
// `longest` (--reconnect-max stays the longest wait). A nominal wait of 0 stays 0.
std::chrono::milliseconds Jittered(std::chrono::milliseconds nominal,
                                   std::chrono::milliseconds longest, std::mt19937_64& random);

}  // namespace roderavo::tool::bridge
