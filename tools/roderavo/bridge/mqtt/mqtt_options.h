// The MQTT face's options (the broker, the topics, Home Assistant, the statistics) in
// one table for the command line and the site file's [mqtt] and [ha], and the
// settings they are judged into before anything starts.
#pragma once

#include <chrono>
#include <optional>
#include <span>
#include <string>

#include "bridge/core/face_options.h"
#include "bridge/mqtt/mqtt_client.h"
#include "bridge/mqtt/topics.h"

namespace roderavo::tool::bridge {

// As given: texts, as the command line and the site file have them.
struct MqttOptions {
    std::string url;  // mqtt://HOST[:PORT], mqtts://HOST[:PORT]; empty: none (or the default)
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
    std::string site;         // empty: the host name
    std::string topicPrefix;  // empty: roderavo/<site>
    bool haDiscovery = false;
    std::string haPrefix = "homeassistant";
    std::string statisticsEvery = "60s";  // how often mux/<m>/statistics is published
};

inline constexpr int kKeepAliveLeast = 5;  // seconds
inline constexpr int kKeepAliveMost = 3600;
// Why a keep-alive is refused ("3: give 5..3600 seconds"), or empty.
std::string KeepAliveProblem(long long seconds);

std::span<const FaceOption<MqttOptions>> MqttOptionTable();
void AddMqttOptions(CLI::App* command, MqttOptions& options);

// What the face runs with, judged.
struct MqttSettings {
    bool enabled = false;  // a broker to connect to
    std::string url;       // as given, for the log
    BrokerSettings broker;
    std::string prefix;  // the topics' prefix
    std::string site;    // the site's name, as Home Assistant shows it
    bool haDiscovery = false;
    std::string haPrefix;
    std::chrono::milliseconds statisticsEvery{60000};
    bool json = false;  // JSON payloads
};

// The topics judged (the prefix, the discovery prefix); the broker too when `url` is
// given. Nothing, with the reason said, when one is wrong.
std::optional<MqttSettings> JudgeMqtt(const MqttOptions& options, bool json);

}  // namespace roderavo::tool::bridge
