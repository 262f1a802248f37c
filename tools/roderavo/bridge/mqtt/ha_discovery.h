// Home Assistant MQTT discovery: the bridge a device of its own (its version, its
// status as a diagnostic sensor), each multiplexer a device linked to it with a
// sensor of its state, diagnostic sensors of its version, clock and statistics, and
// two buttons; each of its cameras a binary sensor for alarm and one for video loss,
// available while the bridge's status is online. Retained configuration messages
// under the discovery prefix (homeassistant/…). Entity names are what Home Assistant
// puts after the device's name ("north multiplexer 1" "state").
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "bridge/mqtt/topics.h"

namespace roderavo::tool::bridge {

struct DiscoveryMessage {
    std::string topic;
    std::string payload;
};

// The configurations for the multiplexers polled. `json`: the states are JSON payloads.
std::vector<DiscoveryMessage> DiscoveryMessages(const Topics& topics, const std::string& haPrefix,
                                                const std::string& site,
                                                const std::vector<int>& muxes, bool json);

// What each connection publishes: the configurations when discovery is `enabled`, and
// an empty retained message on every other configuration topic of the bridge's node
// (the multiplexers not polled now; all of them with discovery off). The node's
// topics are a fixed set, so whatever an earlier run left there is removed without
// knowing what it was; a change of payload style rewrites the same topics.
std::vector<DiscoveryMessage> DiscoveryAtConnection(const Topics& topics,
                                                    const std::string& haPrefix,
                                                    const std::string& site,
                                                    const std::vector<int>& muxes, bool json,
                                                    bool enabled);

}  // namespace roderavo::tool::bridge
