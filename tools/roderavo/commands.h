// The sub-commands of the tool. Each returns the exit code.
#pragma once

#include <string>
#include <vector>

#include "session.h"

namespace roderavo::tool {

int RunInfo(const CommonOptions& options);

struct ParseOptions {
    std::vector<std::string> addresses;
    std::string kind;  // "", "number" or "text": overrides the form's value kind
};
int RunParse(const CommonOptions& options, const ParseOptions& parse);

// The Tag Format dialog on this terminal; prints the address composed in it.
int RunTagFormat(const CommonOptions& options);

int RunRead(const CommonOptions& options, const std::vector<std::string>& addresses);
int RunWrite(const CommonOptions& options, const std::vector<std::string>& assignments);

struct PollOptions {
    std::vector<int> muxes{0, 1, 2, 3, 4};
    int cycles = -1;       // -1: not given
    std::string duration;  // empty: not given
    int demoteAfter = 3;
    std::string demoteFor = "10s";
    std::string colour = "auto";  // auto, always, never
};
int RunPoll(const CommonOptions& options, const PollOptions& poll);

struct SimulateOptions {
    bool trace = false;
    std::vector<int> absent;
    std::vector<std::string> faults;  // KIND[:N][@P], as muxsim takes them
    uint64_t seed = 1;
    uint32_t baud = 0;
    std::string duration;  // empty: until stopped
};
int RunSimulate(const CommonOptions& options, const SimulateOptions& simulate);

}  // namespace roderavo::tool
