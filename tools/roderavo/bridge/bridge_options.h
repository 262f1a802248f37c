// The settings of `roderavo bridge` (filled by its command-line options, and later
// by the site file into the same struct), the broker's address, and the topics under
// the prefix.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace CLI {
class App;
}

namespace roderavo::tool::bridge {

// The broker when none is given (and no Modbus face either).
inline constexpr const char* kDefaultBroker = "mqtt://localhost:1883";

struct BridgeOptions {
    // The broker: mqtt://HOST[:PORT] or mqtts://HOST[:PORT]; empty: kDefaultBroker, or
    // none when the bridge serves Modbus TCP.
    std::string mqtt;
    std::string username;
    std::string password;      // also from RODERAVO_MQTT_PASSWORD
    std::string passwordFile;  // the password in a file (its first line)
    std::string caFile;        // TLS: the CA that signed the broker's certificate
    std::string certFile;      // TLS: this client's certificate and key
    std::string keyFile;
    std::string clientId;              // empty: derived from the prefix
    int keepAlive = 30;                // seconds
    std::string backoffMin = "500ms";  // reconnection: the first wait, doubled up to the last
    std::string backoffMax = "30s";
    // The topics.
    std::string site;         // empty: the host name
    std::string topicPrefix;  // empty: roderavo/<site>
    bool haDiscovery = false;
    std::string haPrefix = "homeassistant";
    std::string statisticsEvery = "60s";  // how often mux/<m>/statistics is published
    std::string commandDeadline = "2s";   // a command not started by then is not sent
    // The Modbus TCP face.
    std::string modbus;              // ADDRESS[:PORT]; empty: none
    std::string modbusIdle = "60s";  // a connection that says nothing this long is closed
    std::string modbusAllow;         // the networks that may connect; empty: every peer
    bool modbusWritable = false;     // holding registers run commands; else reads only
    std::string modbusMap;           // "csv": print the map as a tag list and end
};

// The rules of the bridge's options, shared by the command line and the site file.
inline constexpr int kKeepAliveLeast = 5;  // seconds
inline constexpr int kKeepAliveMost = 3600;
inline constexpr double kReconnectLeastMs = 10;
inline constexpr double kStatisticsLeastMs = 100;
inline constexpr double kModbusIdleLeastMs = 1000;
inline constexpr double kCommandDeadlineLeastMs = 100;
// Why a value is refused, after the option's name ("--mqtt-keepalive 3: give ..."),
// or empty.
std::string KeepAliveProblem(long long seconds);
std::string DurationProblem(const std::string& text, double leastMs);
// An empty --modbus-allow would let every peer in: leaving it out says that.
std::string ModbusAllowProblem(const std::string& text);

// The options of the bridge on its sub-command (the line and driver options are the
// tool's common ones, the polling ones poll's).
void AddBridgeOptions(CLI::App* command, BridgeOptions& options);

struct BrokerAddress {
    std::string host;
    int port = 1883;
    bool tls = false;
};

// mqtt://HOST[:PORT], mqtts://HOST[:PORT] ([::1] for IPv6);
// nothing, with the reason, when it is not one of those.
std::optional<BrokerAddress> ParseBrokerUrl(std::string_view url, std::string* error);

// A TCP port, 1..65535, written in decimal digits only; nothing otherwise.
std::optional<int> ParsePort(std::string_view text);

// The host name, cut at its first dot, as a topic level.
std::string DefaultSite();

// The prefix the options ask for; empty with the reason when it cannot be a prefix
// (wildcards, empty levels, a leading or trailing slash).
std::string TopicPrefix(const BridgeOptions& options, std::string* error);

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
