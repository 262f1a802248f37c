// Where a face listens and who may connect to it, as the command line gives them:
// ADDRESS[:PORT] and IPv4 networks (10.1.2.0/24,10.9.9.9), the rules every face shares.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace roderavo::tool::bridge {

struct Endpoint {
    std::string address = "127.0.0.1";  // the default serves this host only
    int port = 0;
};

// An IPv4 network that may connect: a.b.c.d/n.
struct PeerNetwork {
    uint32_t network = 0;  // host order
    uint32_t mask = 0;
    bool Admits(uint32_t address) const { return (address & mask) == network; }
};

// ADDRESS[:PORT]; PORT and :PORT serve this host only, ADDRESS alone takes `port`.
// Nothing, with the reason after `option` ("--modbus X: ... e.g. EXAMPLE"), when it is
// not one.
std::optional<Endpoint> ParseEndpoint(const std::string& text, std::string_view option, int port,
                                      std::string_view example, std::string* error);

// "10.0.0.0/8,192.168.1.7" (a plain address is /32); nothing, with the reason after
// `option`, when one is not an IPv4 network.
std::optional<std::vector<PeerNetwork>> ParseNetworks(const std::string& text,
                                                      std::string_view option, std::string* error);

// An empty list of networks would let every peer in: leaving the option out says that.
// The refusal, after the option's name, or empty.
std::string EmptyNetworksProblem(const std::string& text);

// The site file's rules of a face's listen and allow keys: why the value is refused,
// after the key ("listen x: give ..."), or empty.
std::string ListenKeyProblem(const std::string& text, std::string_view option, int port);
std::string AllowKeyProblem(const std::string& text, std::string_view option);

// Whether a peer (IPv4, host order) may connect: every peer when no network is named.
bool Admitted(const std::vector<PeerNetwork>& networks, uint32_t address);

}  // namespace roderavo::tool::bridge
