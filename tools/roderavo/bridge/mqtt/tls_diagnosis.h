// Why a TLS connection to the broker failed. libmosquitto reports every failed
// handshake alike; a handshake of our own, made only to ask, gets OpenSSL's own
// words for it: the broker's certificate names another host, has expired, or is
// signed by a CA the bridge does not trust, or the client's files are unusable.
#pragma once

#include <string>

#include "bridge/mqtt/mqtt_client.h"

namespace roderavo::tool::bridge {

// The cause, as a user can act on it; empty when none is found (the broker cannot
// be reached now, or the handshake succeeds). Waits at most a few seconds.
std::string TlsFailureCause(const BrokerSettings& broker);

}  // namespace roderavo::tool::bridge
