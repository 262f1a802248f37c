// roderavo bridge: the multiplexers of one line on an MQTT broker. It polls the line
// as `poll` does (demotion, statistics), publishes what it reads under a topic prefix,
// and runs the control commands that come from the broker through the write path of
// `roderavo write`. See docs/guide.md, "The MQTT bridge".
#pragma once

#include "bridge/bridge_options.h"
#include "line/session.h"
#include "poll/poll_options.h"

namespace roderavo::tool::bridge {

// Runs until SIGTERM, SIGINT or SIGHUP (or --duration); the exit code: 0 after a
// stop, 1 a setting refused (also by the broker: credentials, TLS), 2 the line
// could not be opened.
int RunBridge(const CommonOptions& common, const PollOptions& polling,
              const BridgeOptions& options);

}  // namespace roderavo::tool::bridge
