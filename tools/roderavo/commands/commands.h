// The sub-commands of the tool. Each returns the exit code.
#pragma once
#define RODERAVO_TREE_COMMANDS_H 1  // the tree's own copy, as the layer probes ask

#include <string>
#include <vector>

#include "line/session.h"
#include "poll/poll_options.h"
#ifndef _WIN32
#include "bridge/mqtt/mqtt_options.h"
#endif

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

#ifndef _WIN32  // over libmosquitto, as the bridge
struct SitesOptions {
    std::vector<std::string> sites;  // only these; empty: every site
    std::string root;                // the topics' root; empty: from the site file, else roderavo
    std::string timeout = "5s";      // for the broker and its retained messages
    bool check = false;              // one line and the exit code of a monitoring check
    bool watch = false;              // a live view
};
int RunSites(const CommonOptions& common, const bridge::MqttOptions& mqtt,
             const SitesOptions& options);
#endif

}  // namespace roderavo::tool
