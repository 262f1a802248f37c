// Home Assistant MQTT discovery: each multiplexer a device with a sensor of its state,
// each of its cameras a binary sensor for alarm and one for video loss, all available
// while the bridge's status is online. Retained configuration messages under the
// discovery prefix (homeassistant/…).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "bridge/bridge_options.h"

namespace roderavo::tool::bridge {

struct DiscoveryMessage {
    std::string topic;
    std::string payload;
};

// The configurations for the multiplexers polled. `json`: the states are JSON payloads.
std::vector<DiscoveryMessage> DiscoveryMessages(const Topics& topics, const std::string& haPrefix,
                                                const std::string& site,
                                                const std::vector<int>& muxes, bool json);

}  // namespace roderavo::tool::bridge
