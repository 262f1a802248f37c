#include "bridge/mqtt/mqtt_client.h"

#include <pthread.h>
#include <mosquitto.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "bridge/core/counters.h"
#include "bridge/mqtt/backoff.h"
#include "bridge/mqtt/tls_diagnosis.h"

namespace roderavo::tool::bridge {

namespace {

// The library is set up once per process and cleaned up at its end.
void InitLibrary() {
    static const bool done = [] {
        mosquitto_lib_init();
        std::atexit([] { mosquitto_lib_cleanup(); });
        return true;
    }();
    (void)done;
}

std::string Why(int rc) {
    if (rc == MOSQ_ERR_ERRNO) return std::strerror(errno);
    return mosquitto_strerror(rc);
}

bool Readable(const std::string& path) {
    return std::ifstream(path).good();
}

// Why the socket of a connection that is still being made has failed; empty while
// it has not. libmosquitto goes on writing into a TLS socket whose connection was
// refused (the loop returns at once, again and again) until a keep-alive passes.
std::string SocketFailure(int socket) {
    if (socket < 0) return {};
    pollfd state{socket, POLLOUT, 0};
    if (poll(&state, 1, 0) != 1 || (state.revents & (POLLERR | POLLHUP)) == 0) return {};
    int error = 0;
    socklen_t size = sizeof error;
    getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &size);
    return error != 0 ? std::strerror(error) : "the connection was closed";
}

// A connection whose handshakes take longer than this is given up and tried again.
constexpr std::chrono::seconds kHandshakeLimit{10};

}  // namespace

MqttClient::MqttClient(BrokerSettings settings)
    : settings_(std::move(settings)), random_(std::random_device{}()) {}

MqttClient::~MqttClient() {
    Stop(std::chrono::milliseconds(0));
    if (mosq_ != nullptr) mosquitto_destroy(mosq_);
}

bool MqttClient::Start(MessageHandler onMessage, ConnectHandler onConnect, LogHandler log,
                       std::string* error) {
    InitLibrary();
    onMessage_ = std::move(onMessage);
    onConnect_ = std::move(onConnect);
    log_ = std::move(log);
    // A clean session: the broker keeps nothing of this client between connections,
    // so it never hands an earlier connection's command over again.
    mosq_ = mosquitto_new(settings_.clientId.c_str(), true, this);
    if (mosq_ == nullptr) {
        *error = "the MQTT client could not be created (client id '" + settings_.clientId + "')";
        return false;
    }
    mosquitto_threaded_set(mosq_, true);
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(mosq_, &MqttClient::OnConnect);
    mosquitto_disconnect_callback_set(mosq_, &MqttClient::OnDisconnect);
    mosquitto_message_callback_set(mosq_, &MqttClient::OnMessage);
    mosquitto_publish_callback_set(mosq_, &MqttClient::OnPublish);
    if (!settings_.username.empty() &&
        mosquitto_username_pw_set(
            mosq_, settings_.username.c_str(),
            settings_.password.empty() ? nullptr : settings_.password.c_str()) !=
            MOSQ_ERR_SUCCESS) {
        *error = "the MQTT user name or password cannot be used";
        return false;
    }
    if (!settings_.willTopic.empty())
        mosquitto_will_set(mosq_, settings_.willTopic.c_str(),
                           static_cast<int>(settings_.willPayload.size()),
                           settings_.willPayload.data(), 1, true);
    if (settings_.tls) {
        for (const std::string* file : {&settings_.caFile, &settings_.certFile, &settings_.keyFile})
            if (!file->empty() && !Readable(*file)) {
                *error = "TLS: cannot read " + *file;
                return false;
            }
        if (settings_.certFile.empty() != settings_.keyFile.empty()) {
            *error = "TLS: a client certificate needs its key: give --mqtt-cert and --mqtt-key";
            return false;
        }
        const char* caFile = settings_.caFile.empty() ? nullptr : settings_.caFile.c_str();
        const char* caPath = caFile == nullptr ? "/etc/ssl/certs" : nullptr;
        const int rc = mosquitto_tls_set(
            mosq_, caFile, caPath,
            settings_.certFile.empty() ? nullptr : settings_.certFile.c_str(),
            settings_.keyFile.empty() ? nullptr : settings_.keyFile.c_str(), nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            *error = "TLS cannot be set up: " + Why(rc);
            return false;
        }
    }
    backoff_ = settings_.backoffMin;
    thread_ = std::thread([this] {
        pthread_setname_np(pthread_self(), "rd-mqtt");  // each thread by its job in ps -L
        Run();
    });
    return true;
}

bool MqttClient::Publish(const std::string& topic, const std::string& payload, bool retain) {
    if (!connected_) return false;
    ++pending_;
    if (mosquitto_publish(mosq_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                          payload.data(), 1, retain) == MOSQ_ERR_SUCCESS)
        return true;
    --pending_;
    return false;
}

bool MqttClient::Subscribe(const std::string& filter) {
    return mosquitto_subscribe(mosq_, nullptr, filter.c_str(), 1) == MOSQ_ERR_SUCCESS;
}

std::optional<std::string> MqttClient::Fatal() const {
    std::lock_guard lock(mutex_);
    return fatal_;
}

void MqttClient::SetFatal(const std::string& why) {
    {
        std::lock_guard lock(mutex_);
        fatal_ = why;
    }
    changed_.notify_all();
    if (log_) log_(why);
}

void MqttClient::Stop(std::chrono::milliseconds flush) {
    if (!thread_.joinable()) return;
    stopping_ = true;  // no new connection from here on
    changed_.notify_all();
    if (connected_) {
        // What was published is acknowledged first (QoS 1 messages beyond the in-flight
        // window wait for acknowledgements before they go out), then the clean end.
        const auto end = std::chrono::steady_clock::now() + flush;
        std::unique_lock lock(mutex_);
        changed_.wait_until(lock, end, [this] { return pending_ <= 0 || !connected_; });
        mosquitto_disconnect(mosq_);
        changed_.wait_until(lock, end, [this] { return !connected_; });
    }
    quit_ = true;
    thread_.join();
}

void MqttClient::OnConnect(mosquitto*, void* self, int rc) {
    auto* client = static_cast<MqttClient*>(self);
    client->refusal_ = rc;
    if (rc != 0) return;
    client->backoff_ = client->settings_.backoffMin;
    client->wasConnected_ = true;
    ++client->connections_;
    {
        std::lock_guard lock(client->mutex_);
        client->connected_ = true;
    }
    ProcessCounters().Connections(FaceId::kMqtt, 1);
    client->changed_.notify_all();
    if (client->onConnect_) client->onConnect_();
}

void MqttClient::OnDisconnect(mosquitto*, void* self, int) {
    auto* client = static_cast<MqttClient*>(self);
    {
        std::lock_guard lock(client->mutex_);
        client->connected_ = false;
        client->pending_ = 0;  // a clean session: what was in flight is gone
    }
    ProcessCounters().Connections(FaceId::kMqtt, 0);
    client->changed_.notify_all();
}

void MqttClient::OnPublish(mosquitto*, void* self, int) {
    auto* client = static_cast<MqttClient*>(self);
    {
        std::lock_guard lock(client->mutex_);
        --client->pending_;
    }
    client->changed_.notify_all();
}

void MqttClient::OnMessage(mosquitto*, void* self, const mosquitto_message* message) {
    auto* client = static_cast<MqttClient*>(self);
    if (!client->onMessage_ || message->topic == nullptr) return;
    const std::string payload(static_cast<const char*>(message->payload),
                              static_cast<std::size_t>(std::max(message->payloadlen, 0)));
    client->onMessage_(message->topic, payload, message->retain);
}

bool MqttClient::Connect(bool first) {
    refusal_ = 0;
    const int rc = first ? mosquitto_connect_async(mosq_, settings_.host.c_str(), settings_.port,
                                                   settings_.keepAliveSeconds)
                         : mosquitto_reconnect_async(mosq_);
    if (rc == MOSQ_ERR_SUCCESS) return true;
    if (rc == MOSQ_ERR_TLS) {
        FailTls();
        return false;
    }
    LoseConnection(Why(rc));
    return false;
}

void MqttClient::FailTls() {
    const std::string cause = TlsFailureCause(settings_);
    SetFatal("the TLS connection to " + settings_.host + ":" + std::to_string(settings_.port) +
             " failed: " +
             (cause.empty() ? "check --mqtt-ca (the CA of the broker's certificate), "
                              "--mqtt-cert and --mqtt-key"
                            : cause));
}

void MqttClient::LoseConnection(const std::string& why) {
    connected_ = false;
    ProcessCounters().Connections(FaceId::kMqtt, 0);
    const bool was = wasConnected_.exchange(false);
    changed_.notify_all();
    wait_ = Jittered(backoff_, settings_.backoffMax, random_);
    const std::string broker = settings_.host + ":" + std::to_string(settings_.port);
    if (log_)
        log_((was ? "connection to the broker " + broker + " lost: "
                  : "cannot connect to the broker " + broker + ": ") +
             why + "; next try in " + std::to_string(wait_.count()) + " ms");
}

void MqttClient::WaitBackoff() {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, wait_, [this] { return stopping_.load() || quit_.load(); });
    backoff_ = std::min(settings_.backoffMax, backoff_ * 2);
}

void MqttClient::Run() {
    bool first = true;
    bool linked = false;  // a socket is open (connecting or connected)
    auto linkedAt = std::chrono::steady_clock::now();
    for (;;) {
        if (quit_ || (stopping_ && !connected_)) return;
        if (!linked) {
            linked = Connect(first);
            linkedAt = std::chrono::steady_clock::now();
            first = false;
            if (Fatal()) return;
            if (!linked) {
                WaitBackoff();
                continue;
            }
        }
        // Connected, the socket wakes the loop for all it does (what comes in, and in
        // threaded mode what is published); a second is the keep-alive's grain. While
        // connecting, a tenth, so that a stop is seen at once.
        const int rc = mosquitto_loop(mosq_, connected_ ? 1000 : 100, 1);
        if (rc == MOSQ_ERR_SUCCESS && !connected_ && refusal_ == 0) {
            // Still connecting: a refused or dead socket, or handshakes that do not end,
            // wait out the backoff like any failed try.
            std::string failed = SocketFailure(mosquitto_socket(mosq_));
            if (failed.empty() && std::chrono::steady_clock::now() - linkedAt > kHandshakeLimit)
                failed = "no answer to the connection within " +
                         std::to_string(kHandshakeLimit.count()) + " s";
            if (!failed.empty()) {
                if (stopping_) return;
                linked = false;
                LoseConnection(failed);
                WaitBackoff();
            }
            continue;
        }
        if (rc == MOSQ_ERR_SUCCESS) continue;
        if (stopping_) return;
        // A refused CONNACK: 4 bad user name or password, 5 not authorised.
        if (refusal_ == 4 || refusal_ == 5) {
            SetFatal("the broker " + settings_.host + ":" + std::to_string(settings_.port) +
                     " refused the connection: " + mosquitto_connack_string(refusal_) +
                     " (check --mqtt-username and the password)");
            return;
        }
        if (rc == MOSQ_ERR_TLS) {
            FailTls();
            return;
        }
        linked = false;
        LoseConnection(refusal_ != 0 ? mosquitto_connack_string(refusal_) : Why(rc));
        WaitBackoff();
    }
}

}  // namespace roderavo::tool::bridge
