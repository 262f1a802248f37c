// The broker's address, the topics under the prefix, and the names made of the prefix
// (the client id, the node of Home Assistant's discovery).
#pragma once
#define RODERAVO_TREE_TOPICS_H 1  // the tree's own copy, as the layer probes ask

#include <optional>
#include <string>
#include <string_view>

namespace roderavo::tool::bridge {

// The broker when none is given (and no other face either).
inline constexpr const char* kDefaultBroker = "mqtt://localhost:1883";

struct BrokerAddress {
    std::string host;
    int port = 1883;
    bool tls = false;
};

// mqtt://HOST[:PORT], mqtts://HOST[:PORT] ([::1] for IPv6);
// nothing, with the reason, when it is not one of those.
std::optional<BrokerAddress> ParseBrokerUrl(std::string_view url, std::string* error);

// The host name, cut at its first dot, as a topic level.
std::string DefaultSite();

// The prefix the options ask for (--topic-prefix, else roderavo/ and --site, else
// the host name); empty with the reason when it cannot be a prefix (wildcards, empty
// levels, a leading or trailing slash).
std::string TopicPrefix(const std::string& topicPrefix, const std::string& site,
                        std::string* error);

// The prefix made into a name for client ids and discovery ids: [A-Za-z0-9_-] only.
std::string NodeName(std::string_view prefix);
// The default client id at the broker: roderavo- and the prefix escaped so that no
// two prefixes share an id; at most kLongestClientId characters.
inline constexpr std::size_t kLongestClientId = 64;
std::string ClientId(std::string_view prefix);
// Why topic levels (a prefix) cannot be used: wildcards, empty levels, or $ (the
// broker's own topics); empty when they can.
std::string TopicLevelsProblem(std::string_view levels);

// A command topic under the prefix: PREFIX/mux/<m>/set/<word>.
struct CommandTopic {
    std::string mux;   // as it stands in the topic
    std::string word;  // key, ptz, preset, caa, inhpair, joy, ihk, clock
};

class Topics {
  public:
    explicit Topics(std::string prefix) : prefix_(std::move(prefix)) {}

    const std::string& Prefix() const { return prefix_; }
    std::string Status() const { return prefix_ + "/status"; }
    std::string Event() const { return prefix_ + "/event"; }
    std::string Mux(int mux, std::string_view leaf) const;
    std::string MuxResult(std::string_view mux) const;
    std::string Camera(int camera, std::string_view leaf) const;
    // What the bridge subscribes to: PREFIX/mux/+/set/+
    std::string CommandFilter() const { return prefix_ + "/mux/+/set/+"; }
    // The parts of a command topic; nothing for any other topic.
    std::optional<CommandTopic> ParseCommand(std::string_view topic) const;

  private:
    std::string prefix_;
};

}  // namespace roderavo::tool::bridge
