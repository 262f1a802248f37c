// The connection to the broker, over Debian's libmosquitto: one network thread of
// its own that connects, keeps the connection, and reconnects after a loss with a
// doubling wait (backoff), each wait spread at random by a quarter either way.
// Publishing and subscribing are safe from any thread. A broker that refuses the
// credentials or a TLS handshake that fails ends the thread with a fatal error:
// waiting would not mend either.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>

struct mosquitto;
struct mosquitto_message;

namespace roderavo::tool::bridge {

struct BrokerSettings {
    std::string host;
    int port = 1883;
    bool tls = false;
    std::string caFile, certFile, keyFile;  // TLS; no CA file: the system's CAs
    std::string username, password;
    std::string clientId;
    int keepAliveSeconds = 30;
    std::chrono::milliseconds backoffMin{500};
    std::chrono::milliseconds backoffMax{30000};
    std::string willTopic, willPayload;  // published retained by the broker when the bridge is lost
};

class MqttClient {
  public:
    using MessageHandler =
        std::function<void(const std::string& topic, const std::string& payload, bool retained)>;
    // After each accepted connection, on the network thread: subscribe, publish the
    // retained states again.
    using ConnectHandler = std::function<void()>;
    // What the client has to say (connection lost, retrying in ..., refused).
    using LogHandler = std::function<void(const std::string&)>;

    explicit MqttClient(BrokerSettings settings);
    ~MqttClient();  // stops
    MqttClient(const MqttClient&) = delete;
    MqttClient& operator=(const MqttClient&) = delete;

    // Sets up the library and starts the network thread; it connects in the background.
    // False with the reason when the settings cannot be used (a TLS file missing).
    bool Start(MessageHandler onMessage, ConnectHandler onConnect, LogHandler log,
               std::string* error);
    // QoS 1. False when not connected (nothing is queued).
    bool Publish(const std::string& topic, const std::string& payload, bool retain);
    bool Subscribe(const std::string& filter);
    uint64_t Connections() const { return connections_; }
    // Set when the broker refused the credentials or TLS failed: the thread has ended.
    std::optional<std::string> Fatal() const;
    // Disconnects cleanly after what was published (within `flush`) and ends the thread.
    void Stop(std::chrono::milliseconds flush = std::chrono::milliseconds(500));

  private:
    void Run();
    bool Connect(bool first);
    void LoseConnection(const std::string& why);
    void FailTls();  // ends the client, naming the cause
    void WaitBackoff();
    void SetFatal(const std::string& why);
    static void OnConnect(mosquitto*, void* self, int rc);
    static void OnDisconnect(mosquitto*, void* self, int rc);
    static void OnPublish(mosquitto*, void* self, int mid);
    static void OnMessage(mosquitto*, void* self, const mosquitto_message* message);

    BrokerSettings settings_;
    mosquitto* mosq_ = nullptr;
    MessageHandler onMessage_;
    ConnectHandler onConnect_;
    LogHandler log_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};  // no new connection; end once disconnected
    std::atomic<bool> quit_{false};      // end now
    std::atomic<bool> connected_{false};
    std::atomic<bool> wasConnected_{false};  // since the last loss: a loss, not a failed try
    std::atomic<uint64_t> connections_{0};
    std::atomic<int64_t> pending_{0};       // published, not yet acknowledged
    std::chrono::milliseconds backoff_{0};  // the nominal wait, doubled after each failure
    std::chrono::milliseconds wait_{0};     // the next wait: the nominal one spread
    std::mt19937_64 random_;                // seeded once from the system's entropy
    int refusal_ = 0;  // the last CONNACK's refusal code, on the network thread
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<std::string> fatal_;
};

}  // namespace roderavo::tool::bridge
