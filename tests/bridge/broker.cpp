#include "broker.h"

#include <mosquitto.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace roderavo_test {

namespace {

bool Run(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

void LibraryOnce() {
    static const bool done = [] {
        mosquitto_lib_init();
        return true;
    }();
    (void)done;
}

}  // namespace

TempFolder::TempFolder() {
    char name[] = "/tmp/roderavo-bridge-XXXXXX";
    path_ = mkdtemp(name) != nullptr ? name : "/tmp";
}

TempFolder::~TempFolder() {
    if (path_ != "/tmp") {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
}

int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    close(fd);
    return port;
}

bool Listening(int port) {
    // A bounded number of tries.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < end) {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(port));
        const bool up = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        close(fd);
        if (up) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

bool MakeTestCa(const std::string& dir) {
    const std::string key = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    std::ofstream(dir + "/server.ext") << "subjectAltName=DNS:localhost,IP:127.0.0.1\n";
    return Run("cd " + dir + " && openssl req -x509" + key +
               " -keyout ca.key -out ca.crt -days 2 -subj /CN=roderavo-test-ca 2>/dev/null") &&
           Run("cd " + dir + " && openssl req" + key +
               " -keyout server.key -out server.csr -subj /CN=localhost 2>/dev/null") &&
           Run("cd " + dir +
               " && openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial "
               "-out server.crt -days 2 -extfile server.ext 2>/dev/null") &&
           // The same key in certificates that fail the bridge's check: one that has
           // expired, one that names another host.
           Run("cd " + dir +
               " && openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial "
               "-out expired.crt -days -1 -extfile server.ext 2>/dev/null") &&
           Run("cd " + dir + " && echo subjectAltName=DNS:elsewhere.example > elsewhere.ext" +
               " && openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial "
               "-out elsewhere.crt -days 2 -extfile elsewhere.ext 2>/dev/null") &&
           Run("cd " + dir + " && openssl req" + key +
               " -keyout client.key -out client.csr -subj /CN=roderavo-bridge 2>/dev/null") &&
           Run("cd " + dir +
               " && openssl x509 -req -in client.csr -CA ca.crt -CAkey ca.key -CAcreateserial "
               "-out client.crt -days 2 2>/dev/null") &&
           Run("chmod a+r " + dir + "/*.key " + dir + "/*.crt");
}

TestBroker::TestBroker() = default;

TestBroker::~TestBroker() {
    Stop();
}

std::string TestBroker::AddUser(const std::string& user, const std::string& password) {
    const std::string file = folder_.File("passwords");
    Run("mosquitto_passwd -b " + std::string(std::filesystem::exists(file) ? "" : "-c ") + file +
        " " + user + " " + password + " >/dev/null 2>&1");
    Run("chmod a+r " + file);
    return file;
}

ClientTls TestBroker::ClientFiles(bool withCertificate) const {
    ClientTls tls;
    tls.ca = folder_.File("ca.crt");
    if (withCertificate) {
        tls.cert = folder_.File("client.crt");
        tls.key = folder_.File("client.key");
    }
    return tls;
}

pid_t TestBroker::Pid() const {
    return broker_ ? broker_->Pid() : -1;
}

bool TestBroker::Start(const Settings& settings, std::string* why) {
    settings_ = settings;
    if (port_ == 0) port_ = FreePort();
    const passwd* user = getpwuid(geteuid());
    std::ofstream config(folder_.File("mosquitto.conf"));
    config << "per_listener_settings false\n"
           << "persistence " << (settings.persistent ? "true" : "false") << "\n"
           << "persistence_location " << folder_.Path() << "/\n"
           << "log_dest file " << folder_.File("broker.log") << "\n"
           << (settings.logAll ? "log_type all\n"
                               : "log_type error\nlog_type warning\nlog_type notice\n");
    if (user != nullptr) config << "user " << user->pw_name << "\n";
    config << "listener " << port_ << " 127.0.0.1\n";
    if (settings.passwordFile.empty()) {
        config << "allow_anonymous true\n";
    } else {
        config << "allow_anonymous false\npassword_file " << settings.passwordFile << "\n";
    }
    if (settings.tls) {
        config << "cafile " << folder_.File("ca.crt") << "\ncertfile "
               << folder_.File(settings.serverCert) << "\nkeyfile " << folder_.File("server.key")
               << "\nrequire_certificate true\n";
    }
    config << settings.more;
    config.close();
    broker_ = std::make_unique<ChildProgram>(
        "/usr/sbin/mosquitto", std::vector<std::string>{"-c", folder_.File("mosquitto.conf")},
        ChildProgram::Stderr::File);
    if (!broker_->Started()) {
        *why = "mosquitto did not start";
        return false;
    }
    if (Listening(port_)) return true;
    *why = "mosquitto did not listen on port " + std::to_string(port_) + ": " + broker_->Errors() +
           Log();
    return false;
}

void TestBroker::Stop(int signal) {
    if (broker_) broker_->Stop(signal, std::chrono::seconds(5));
    broker_.reset();
}

Probe::Probe(int port, std::string filter, ClientTls tls, std::string user, std::string password,
             std::string session)
    : filter_(std::move(filter)) {
    LibraryOnce();
    mosq_ = mosquitto_new(session.empty() ? nullptr : session.c_str(), session.empty(), this);
    mosquitto_connect_callback_set(mosq_, &Probe::Connected_);
    mosquitto_message_callback_set(mosq_, &Probe::Received);
    mosquitto_subscribe_callback_set(mosq_, &Probe::Subscribed);
    mosquitto_publish_callback_set(mosq_, &Probe::Acknowledged);
    mosquitto_reconnect_delay_set(mosq_, 1, 1, false);
    if (!user.empty()) mosquitto_username_pw_set(mosq_, user.c_str(), password.c_str());
    if (!tls.ca.empty())
        mosquitto_tls_set(mosq_, tls.ca.c_str(), nullptr,
                          tls.cert.empty() ? nullptr : tls.cert.c_str(),
                          tls.key.empty() ? nullptr : tls.key.c_str(), nullptr);
    mosquitto_connect_async(mosq_, "127.0.0.1", port, 30);
    mosquitto_loop_start(mosq_);
}

Probe::~Probe() {
    // The network thread ends by itself once disconnected (within its reconnect delay
    // when the broker is away). Cancelling it instead could leave one of the library's
    // mutexes locked, and mosquitto_destroy would then destroy it locked.
    mosquitto_disconnect(mosq_);
    mosquitto_loop_stop(mosq_, false);
    mosquitto_destroy(mosq_);
}

void Probe::Connected_(mosquitto* mosq, void* self, int rc) {
    auto* probe = static_cast<Probe*>(self);
    if (rc != 0) return;
    mosquitto_subscribe(mosq, nullptr, probe->filter_.c_str(), 1);
}

void Probe::Received(mosquitto*, void* self, const mosquitto_message* message) {
    auto* probe = static_cast<Probe*>(self);
    Message m{message->topic,
              std::string(static_cast<const char*>(message->payload),
                          static_cast<std::size_t>(message->payloadlen)),
              message->retain, std::chrono::steady_clock::now()};
    std::function<void(const Message&)> hook;
    {
        std::lock_guard lock(probe->mutex_);
        probe->messages_.push_back(m);
        hook = probe->hook_;
    }
    if (hook) hook(m);
}

bool Probe::Await(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (done()) return true;
        }
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool Probe::Connected(std::chrono::milliseconds timeout) {
    return Await([this] { return connected_; }, timeout);
}

bool Probe::Publish(const std::string& topic, const std::string& payload, bool retain) {
    int mid = 0;
    if (mosquitto_publish(mosq_, &mid, topic.c_str(), static_cast<int>(payload.size()),
                          payload.data(), 1, retain) != MOSQ_ERR_SUCCESS)
        return false;
    return Await(
        [this, mid] {
            return std::find(acknowledged_.begin(), acknowledged_.end(), mid) !=
                   acknowledged_.end();
        },
        std::chrono::seconds(10));
}

bool Probe::Send(const std::string& topic, const std::string& payload) {
    return mosquitto_publish(mosq_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                             payload.data(), 1, false) == MOSQ_ERR_SUCCESS;
}

bool Probe::PublishAll(const std::string& topic, const std::vector<std::string>& payloads) {
    std::vector<int> mids;
    for (const std::string& payload : payloads) {
        int mid = 0;
        if (mosquitto_publish(mosq_, &mid, topic.c_str(), static_cast<int>(payload.size()),
                              payload.data(), 1, false) != MOSQ_ERR_SUCCESS)
            return false;
        mids.push_back(mid);
    }
    return Await(
        [this, &mids] {
            return std::all_of(mids.begin(), mids.end(), [this](int mid) {
                return std::find(acknowledged_.begin(), acknowledged_.end(), mid) !=
                       acknowledged_.end();
            });
        },
        std::chrono::seconds(30));
}

void Probe::Subscribed(mosquitto*, void* self, int, int, const int*) {
    auto* probe = static_cast<Probe*>(self);
    std::lock_guard lock(probe->mutex_);
    probe->connected_ = true;
}

void Probe::Acknowledged(mosquitto*, void* self, int mid) {
    auto* probe = static_cast<Probe*>(self);
    std::lock_guard lock(probe->mutex_);
    probe->acknowledged_.push_back(mid);
}

std::vector<Message> Probe::Messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
}

std::vector<Message> Probe::On(const std::string& topic) const {
    std::vector<Message> on;
    for (const Message& m : Messages())
        if (m.topic == topic) on.push_back(m);
    return on;
}

bool Probe::WaitUntil(const std::function<bool(const std::vector<Message>&)>& probe,
                      std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
        if (probe(Messages())) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return probe(Messages());
}

bool Probe::WaitFor(const std::string& topic, const std::string& payload,
                    std::chrono::milliseconds timeout) {
    return WaitUntil(
        [&](const std::vector<Message>& messages) {
            for (const Message& m : messages)
                if (m.topic == topic && (payload.empty() || m.payload == payload)) return true;
            return false;
        },
        timeout);
}

void Probe::Clear() {
    std::lock_guard lock(mutex_);
    messages_.clear();
}

void Probe::OnMessage(std::function<void(const Message&)> hook) {
    std::lock_guard lock(mutex_);
    hook_ = std::move(hook);
}

}  // namespace roderavo_test
