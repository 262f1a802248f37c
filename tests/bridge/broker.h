// A real mosquitto broker for the bridge's tests and benchmark: its own config file in
// a temporary folder, a free loopback port, ready when a client can connect (bounded
// wait), stopped by its pid. And a probe client over libmosquitto that records every
// message it receives.
#pragma once

#include <chrono>
#include <csignal>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "support/child_program.h"

struct mosquitto;
struct mosquitto_message;

namespace roderavo_test {

// A folder under /tmp removed with its files at the end.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// TLS files of a test CA made with openssl: ca.crt, server.crt/key (localhost and
// 127.0.0.1; expired.crt and elsewhere.crt with the same key), client.crt/key;
// false when openssl failed.
bool MakeTestCa(const std::string& folder);

// What a probe client needs to reach the broker.
struct ClientTls {
    std::string ca, cert, key;  // empty ca: no TLS
};

class TestBroker {
  public:
    struct Settings {
        std::string passwordFile;  // user:password lines made with mosquitto_passwd
        bool tls = false;  // with the test CA's files in the folder, a client certificate required
        bool persistent = false;  // sessions and their queued messages kept across a restart
        // With tls: server.crt, or expired.crt, elsewhere.crt (names elsewhere.example).
        std::string serverCert = "server.crt";
        bool logAll = true;  // every message in broker.log; false: notices and worse only
        std::string more;    // further lines of mosquitto.conf
    };

    TestBroker();
    ~TestBroker();

    // Starts on a free port (the same port again after a Stop); true once a client
    // connects. `why` says what went wrong.
    bool Start(const Settings& settings, std::string* why);
    // By its pid; SIGTERM: a clean end that saves what persists.
    void Stop(int signal = SIGTERM);
    int Port() const { return port_; }
    pid_t Pid() const;
    const TempFolder& Folder() const { return folder_; }
    std::string Log() const { return ReadFile(folder_.File("broker.log")); }
    // A user added to a password file in the folder; returns the file's path.
    std::string AddUser(const std::string& user, const std::string& password);
    ClientTls ClientFiles(bool withCertificate) const;

  private:
    TempFolder folder_;
    int port_ = 0;
    Settings settings_;
    std::unique_ptr<ChildProgram> broker_;
};

struct Message {
    std::string topic, payload;
    bool retained = false;
    std::chrono::steady_clock::time_point at;
};

// A client that subscribes to a filter and keeps what arrives; reconnects (and
// subscribes again) by itself.
class Probe {
  public:
    // A `session` name: a persistent session, which the broker keeps (with what
    // arrives for it) while the probe is away.
    Probe(int port, std::string filter, ClientTls tls = {}, std::string user = {},
          std::string password = {}, std::string session = {});
    ~Probe();
    // Connected, and the broker has confirmed the subscription.
    bool Connected(std::chrono::milliseconds timeout);
    // Publishes with QoS 1 and waits for the broker's acknowledgement.
    bool Publish(const std::string& topic, const std::string& payload, bool retain = false);
    // Publishes with QoS 1 and does not wait: the library sends it once connected.
    bool Send(const std::string& topic, const std::string& payload);
    // Publishes them all at once (QoS 1), then waits for every acknowledgement.
    bool PublishAll(const std::string& topic, const std::vector<std::string>& payloads);
    std::vector<Message> Messages() const;
    std::vector<Message> On(const std::string& topic) const;
    // Waits until a message on the topic (with this payload, when given) has come.
    bool WaitFor(const std::string& topic, const std::string& payload,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10));
    bool WaitUntil(const std::function<bool(const std::vector<Message>&)>& probe,
                   std::chrono::milliseconds timeout);
    void Clear();
    // When the callback hears a message (for the benchmark).
    void OnMessage(std::function<void(const Message&)> hook);

  private:
    static void Connected_(mosquitto*, void* self, int rc);
    static void Received(mosquitto*, void* self, const mosquitto_message* message);
    static void Subscribed(mosquitto*, void* self, int mid, int count, const int* qos);
    static void Acknowledged(mosquitto*, void* self, int mid);
    bool Await(const std::function<bool()>& done, std::chrono::milliseconds timeout);

    mosquitto* mosq_ = nullptr;
    std::string filter_;
    mutable std::mutex mutex_;
    std::vector<Message> messages_;
    bool connected_ = false;  // and subscribed
    std::vector<int> acknowledged_;
    std::function<void(const Message&)> hook_;
};

// A free TCP port on 127.0.0.1.
int FreePort();
// True once a TCP connection to the port on 127.0.0.1 is taken (tries for 10 s).
bool Listening(int port);

}  // namespace roderavo_test
