#include "bridge/mqtt/topics.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>

#include "bridge/core/face_options.h"

namespace roderavo::tool::bridge {

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

std::string DefaultSite() {
    std::array<char, 256> name{};
    if (gethostname(name.data(), name.size() - 1) != 0 || name[0] == '\0') return "site";
    std::string site(name.data());
    site = site.substr(0, site.find('.'));
    return site;
}

std::string TopicPrefix(const std::string& topicPrefix, const std::string& given,
                        std::string* error) {
    std::string prefix = topicPrefix;
    if (prefix.empty()) {
        const std::string site = given.empty() ? DefaultSite() : given;
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
