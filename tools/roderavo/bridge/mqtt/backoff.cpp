#include "bridge/mqtt/backoff.h"

#include <algorithm>
#include <cmath>

namespace roderavo::tool::bridge {

std::chrono::milliseconds Jittered(std::chrono::milliseconds nominal,
                                   std::chrono::milliseconds longest, std::mt19937_64& random) {
    if (nominal.count() <= 0) return std::chrono::milliseconds(0);
    std::uniform_real_distribution<double> factor(1.0 - kBackoffJitter, 1.0 + kBackoffJitter);
    const double drawn = std::round(static_cast<double>(nominal.count()) * factor(random));
    const auto wait = std::chrono::milliseconds(static_cast<long long>(drawn));
    return std::min(wait, std::max(longest, std::chrono::milliseconds(0)));
}

}  // namespace roderavo::tool::bridge
