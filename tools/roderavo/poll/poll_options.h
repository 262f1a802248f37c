// What `poll` and the bridge are asked to poll: the options they share.
#pragma once

#include <string>
#include <vector>

namespace roderavo::tool {

struct PollOptions {
    std::vector<int> muxes{0, 1, 2, 3, 4};
    int cycles = -1;       // -1: not given
    std::string duration;  // empty: not given
    int demoteAfter = 3;
    std::string demoteFor = "10s";
    std::string clockEvery = "60s";  // how often the clocks (TAD) are read
    std::string colour = "auto";     // auto, always, never
};

}  // namespace roderavo::tool
