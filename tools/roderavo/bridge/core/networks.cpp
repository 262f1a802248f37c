#include "bridge/core/networks.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cctype>
#include <charconv>

#include "bridge/core/face_options.h"

namespace roderavo::tool::bridge {

std::optional<Endpoint> ParseEndpoint(const std::string& text, std::string_view option, int port,
                                      std::string_view example, std::string* error) {
    Endpoint endpoint;
    endpoint.port = port;
    const std::string head = std::string(option) + " " + text;
    // PORT and :PORT serve this host only; ADDRESS alone takes the default port.
    const auto colon = text.rfind(':');
    const bool portOnly = colon == std::string::npos && !text.empty() &&
                          std::all_of(text.begin(), text.end(), ::isdigit);
    std::string host = portOnly ? endpoint.address : text.substr(0, colon);
    if (portOnly || colon != std::string::npos) {
        const auto given = ParsePort(std::string_view(text).substr(portOnly ? 0 : colon + 1));
        if (!given) {
            *error = head + ": the port is a number 1..65535";
            return std::nullopt;
        }
        endpoint.port = *given;
    }
    if (host.empty()) host = endpoint.address;
    in_addr probe{};
    if (inet_pton(AF_INET, host.c_str(), &probe) != 1) {
        *error = head + ": give ADDRESS[:PORT] with an IPv4 address, e.g. " + std::string(example);
        return std::nullopt;
    }
    endpoint.address = host;
    return endpoint;
}

std::optional<std::vector<PeerNetwork>> ParseNetworks(const std::string& text,
                                                      std::string_view option, std::string* error) {
    std::vector<PeerNetwork> networks;
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t comma = std::min(text.find(',', at), text.size());
        const std::string item = text.substr(at, comma - at);
        const std::size_t slash = item.find('/');
        int bits = 32;
        const std::string host = item.substr(0, slash);
        in_addr address{};
        bool ok = inet_pton(AF_INET, host.c_str(), &address) == 1;
        if (ok && slash != std::string::npos) {
            const std::string length = item.substr(slash + 1);
            const auto [end, ec] =
                std::from_chars(length.data(), length.data() + length.size(), bits);
            ok = ec == std::errc() && end == length.data() + length.size() && bits >= 0 &&
                 bits <= 32;
        }
        if (!ok) {
            *error = std::string(option) + " " + text + ": '" + item +
                     "' is not an IPv4 network (e.g. 10.1.2.0/24 or 10.1.2.3)";
            return std::nullopt;
        }
        const uint32_t mask = bits == 0 ? 0 : ~uint32_t{0} << (32 - bits);
        networks.push_back({ntohl(address.s_addr) & mask, mask});
        at = comma + 1;
    }
    return networks;
}

std::string EmptyNetworksProblem(const std::string& text) {
    if (!text.empty()) return {};
    return "takes IPv4 networks, e.g. 10.1.2.0/24 (every peer may connect when it is left out)";
}

std::string ListenKeyProblem(const std::string& text, std::string_view option, int port) {
    const std::string example = "127.0.0.1:" + std::to_string(port);
    std::string why = "takes ADDRESS[:PORT], e.g. \"" + example + "\"";
    return !text.empty() && ParseEndpoint(text, option, port, example, &why)
               ? ""
               : WithoutOption(option, why);
}

std::string AllowKeyProblem(const std::string& text, std::string_view option) {
    std::string why = EmptyNetworksProblem(text);
    return !why.empty() || ParseNetworks(text, option, &why) ? WithoutOption(option, why) : "";
}

bool Admitted(const std::vector<PeerNetwork>& networks, uint32_t address) {
    return networks.empty() ||
           std::any_of(networks.begin(), networks.end(),
                       [address](const PeerNetwork& network) { return network.Admits(address); });
}

}  // namespace roderavo::tool::bridge
