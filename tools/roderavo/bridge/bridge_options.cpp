#include "bridge/bridge_options.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <cstdio>

#include "output/text.h"

namespace roderavo::tool::bridge {

void AddBridgeOptions(CLI::App* cmd, BridgeOptions& o) {
    cmd->add_option("--mqtt", o.mqtt,
                    "The broker: mqtt://HOST[:PORT] (1883), mqtts://HOST[:PORT] (TLS, 8883) "
                    "(default: " +
                        std::string(kDefaultBroker) +
                        "; with --modbus and no --mqtt, no broker at all)");
    cmd->add_option("--mqtt-username", o.username, "User name at the broker");
    cmd->add_option("--mqtt-password", o.password,
                    "Password at the broker (better: RODERAVO_MQTT_PASSWORD or "
                    "--mqtt-password-file, which no process list shows)")
        ->envname("RODERAVO_MQTT_PASSWORD");
    cmd->add_option("--mqtt-password-file", o.passwordFile,
                    "A file whose first line is the password");
    cmd->add_option("--mqtt-ca", o.caFile,
                    "TLS: the CA certificate that signed the broker's (turns TLS on)");
    cmd->add_option("--mqtt-cert", o.certFile, "TLS: this client's certificate (PEM)");
    cmd->add_option("--mqtt-key", o.keyFile, "TLS: the key of the client certificate (PEM)");
    cmd->add_option("--mqtt-client-id", o.clientId,
                    "Client id at the broker (default: roderavo- and the prefix, / as _ and "
                    "characters other than letters, digits and - as .XX; one longer than 64 "
                    "characters ends in ~ and a hash of the prefix)");
    cmd->add_option("--mqtt-keepalive", o.keepAlive, "Keep-alive in seconds (5..3600)")
        ->check(CLI::Validator(
            [](const std::string& text) {
                long long seconds = 0;
                const auto [end, ec] =
                    std::from_chars(text.data(), text.data() + text.size(), seconds);
                if (ec == std::errc() && end == text.data() + text.size() &&
                    KeepAliveProblem(seconds).empty())
                    return std::string();
                return "takes " + std::to_string(kKeepAliveLeast) + ".." +
                       std::to_string(kKeepAliveMost) + " seconds, not " + text;
            },
            "SECONDS"))
        ->capture_default_str();
    cmd->add_option("--reconnect-min", o.backoffMin,
                    "The first wait before a new connection to the broker, doubled after each "
                    "failure")
        ->capture_default_str();
    cmd->add_option("--reconnect-max", o.backoffMax, "The longest wait between connections")
        ->capture_default_str();
    cmd->add_option("--site", o.site, "The site's name in the topics (default: the host name)");
    cmd->add_option("--topic-prefix", o.topicPrefix,
                    "Every topic under this prefix (default: roderavo/<site>)");
    cmd->add_flag("--ha-discovery", o.haDiscovery,
                  "Publish Home Assistant MQTT discovery: the bridge and each multiplexer a "
                  "device, each camera a binary sensor for alarm and one for video loss "
                  "(without it, what an earlier run published is removed)");
    cmd->add_option("--ha-prefix", o.haPrefix, "Home Assistant's discovery prefix")
        ->capture_default_str();
    cmd->add_option("--statistics-every", o.statisticsEvery,
                    "How often each multiplexer's statistics are published, counted from the "
                    "start (e.g. 60s)")
        ->capture_default_str();
    cmd->add_option("--command-deadline", o.commandDeadline,
                    "A command (MQTT, or a Modbus write) that has not started this long after "
                    "it came is answered as not sent (Modbus: 0B) and dropped; keep it below "
                    "the senders' time-outs")
        ->capture_default_str();
    cmd->add_option("--modbus", o.modbus,
                    "Serve the multiplexers on Modbus TCP at ADDRESS[:PORT] (port 502 by "
                    "default; 127.0.0.1 serves this host only, 0.0.0.0 every host), beside MQTT "
                    "or alone: reads of what the poll last read, writes with --modbus-writable "
                    "(docs/guide.md, The Modbus TCP face)");
    cmd->add_flag("--modbus-writable", o.modbusWritable,
                  "Let Modbus clients write the holding registers: keys, PTZ, presets, clear "
                  "alarms, set clocks (Modbus TCP has no authentication)");
    cmd->add_option("--modbus-allow", o.modbusAllow,
                    "Only these peers may connect to the Modbus face: IPv4 networks, e.g. "
                    "10.1.2.0/24,10.9.9.9 (default: every peer that reaches the address)")
        ->check(CLI::Validator(ModbusAllowProblem, "NETWORKS"));
    cmd->add_option("--modbus-idle", o.modbusIdle,
                    "A Modbus connection that sends nothing this long is closed")
        ->capture_default_str();
    cmd->add_option("--modbus-map", o.modbusMap,
                    "Print the Modbus map as a tag list to import into a SCADA (csv: table, "
                    "address, Modicon number, name, type, access, description) and end")
        ->check(CLI::IsMember({"csv"}));
}

std::string KeepAliveProblem(long long seconds) {
    if (seconds >= kKeepAliveLeast && seconds <= kKeepAliveMost) return {};
    return std::to_string(seconds) + ": give " + std::to_string(kKeepAliveLeast) + ".." +
           std::to_string(kKeepAliveMost) + " seconds";
}

std::string DurationProblem(const std::string& text, double leastMs) {
    const auto ms = ParseDurationMs(text, true);
    if (ms && *ms >= leastMs) return {};
    return text + ": give a time such as 500ms or 30s";
}

std::string ModbusAllowProblem(const std::string& text) {
    if (!text.empty()) return {};
    return "takes IPv4 networks, e.g. 10.1.2.0/24 (every peer may connect when it is left out)";
}

std::optional<BrokerAddress> ParseBrokerUrl(std::string_view url, std::string* error) {
    BrokerAddress address;
    const auto scheme = url.find("://");
    const std::string_view name = scheme == std::string_view::npos ? "" : url.substr(0, scheme);
    if (name == "mqtts") {
        address.tls = true;
        address.port = 8883;
    } else if (name != "mqtt") {
        *error = "--mqtt " + std::string(url) +
                 ": give mqtt://HOST[:PORT] or mqtts://HOST[:PORT], e.g. mqtt://localhost:1883";
        return std::nullopt;
    }
    std::string_view rest = url.substr(scheme + 3);
    if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
    std::string_view portText;
    if (rest.starts_with("[")) {  // [::1]:1883
        const auto close = rest.find(']');
        if (close == std::string_view::npos) {
            *error = "--mqtt " + std::string(url) + ": an IPv6 address ends with ]";
            return std::nullopt;
        }
        address.host = std::string(rest.substr(1, close - 1));
        rest = rest.substr(close + 1);
        if (rest.starts_with(":"))
            portText = rest.substr(1);
        else if (!rest.empty())
            address.host.clear();
    } else {
        const auto colon = rest.rfind(':');
        address.host = std::string(rest.substr(0, colon));
        if (colon != std::string_view::npos) portText = rest.substr(colon + 1);
    }
    if (address.host.empty() || address.host.find_first_of("/@ ") != std::string::npos) {
        *error = "--mqtt " + std::string(url) +
                 ": no host name in it; give mqtt://HOST[:PORT] (user and password go into "
                 "--mqtt-username and --mqtt-password)";
        return std::nullopt;
    }
    if (!portText.empty() || (rest.find(':') != std::string_view::npos && portText.empty())) {
        const auto port = ParsePort(portText);
        if (!port) {
            *error = "--mqtt " + std::string(url) + ": the port is a number 1..65535";
            return std::nullopt;
        }
        address.port = *port;
    }
    return address;
}

std::optional<int> ParsePort(std::string_view text) {
    int port = 0;
    for (const char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c)) || port > 65535) return std::nullopt;
        port = port * 10 + (c - '0');
    }
    if (port < 1 || port > 65535) return std::nullopt;
    return port;
}

std::string DefaultSite() {
    std::array<char, 256> name{};
    if (gethostname(name.data(), name.size() - 1) != 0 || name[0] == '\0') return "site";
    std::string site(name.data());
    site = site.substr(0, site.find('.'));
    return site;
}

std::string TopicPrefix(const BridgeOptions& options, std::string* error) {
    std::string prefix = options.topicPrefix;
    if (prefix.empty()) {
        const std::string site = options.site.empty() ? DefaultSite() : options.site;
        if (site.find('/') != std::string::npos) {
            *error = "--site " + site + ": a site name is one topic level, without /";
            return {};
        }
        prefix = "roderavo/" + site;
    }
    if (const std::string why = TopicLevelsProblem(prefix); !why.empty()) {
        *error = "the topic prefix '" + prefix + "' cannot be used: " + why +
                 ", e.g. roderavo/plant-north";
        return {};
    }
    return prefix;
}

std::string TopicLevelsProblem(std::string_view levels) {
    if (levels.empty()) return "give one or more topic levels";
    if (levels.find_first_of("+#") != std::string_view::npos ||
        levels.find('\0') != std::string_view::npos || levels.front() == '/' ||
        levels.back() == '/' || levels.find("//") != std::string_view::npos)
        return "give levels without + or # and without empty ones";
    if (levels.front() == '$') return "topics that begin with $ are the broker's own";
    return {};
}

std::string ClientId(std::string_view prefix) {
    // Letters, digits and - stay, / becomes _, any other byte .XX: no two prefixes meet,
    // and a prefix of the first kind keeps the id it always had.
    std::string id = "roderavo-";
    for (const char c : prefix) {
        if (std::isalnum(static_cast<unsigned char>(c)) || c == '-') {
            id += c;
        } else if (c == '/') {
            id += '_';
        } else {
            std::array<char, 4> escaped{};
            std::snprintf(escaped.data(), escaped.size(), ".%02X", static_cast<unsigned char>(c));
            id += escaped.data();
        }
    }
    if (id.size() <= kLongestClientId) return id;
    // Too long for some brokers: its beginning, ~ (which no escaped id has) and a hash
    // of the whole prefix.
    uint64_t hash = 14695981039346656037u;  // FNV-1a, 64 bits
    for (const char c : prefix) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211u;
    std::array<char, 18> text{};
    std::snprintf(text.data(), text.size(), "~%016llx", static_cast<unsigned long long>(hash));
    return id.substr(0, kLongestClientId - 17) + text.data();
}

std::string NodeName(std::string_view prefix) {
    std::string name;
    for (char c : prefix)
        name += std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' ? c : '_';
    return name;
}

std::string Topics::Mux(int mux, std::string_view leaf) const {
    return prefix_ + "/mux/" + std::to_string(mux) + "/" + std::string(leaf);
}

std::string Topics::MuxResult(std::string_view mux) const {
    return prefix_ + "/mux/" + std::string(mux) + "/result";
}

std::string Topics::Camera(int camera, std::string_view leaf) const {
    return prefix_ + "/camera/" + std::to_string(camera) + "/" + std::string(leaf);
}

std::optional<CommandTopic> Topics::ParseCommand(std::string_view topic) const {
    const std::string head = prefix_ + "/mux/";
    if (!topic.starts_with(head)) return std::nullopt;
    topic.remove_prefix(head.size());
    const auto slash = topic.find('/');
    if (slash == std::string_view::npos || slash == 0) return std::nullopt;
    CommandTopic command;
    command.mux = std::string(topic.substr(0, slash));
    topic.remove_prefix(slash + 1);
    if (!topic.starts_with("set/") || topic.size() == 4) return std::nullopt;
    command.word = std::string(topic.substr(4));
    if (command.word.find('/') != std::string::npos) return std::nullopt;
    return command;
}

}  // namespace roderavo::tool::bridge
