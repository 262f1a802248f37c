// The bridge's Modbus TCP face (libmodbus): a server on its own thread that answers
// reads from the map of what the poll last read (ModbusMap), never from the line.
// Several clients at once; each connection is closed after an idle time; a frame
// libmodbus cannot take closes that connection only, logged once. Writes are
// refused (illegal function) unless the bridge takes them: not in this version.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bridge/modbus_map.h"

namespace roderavo::tool::bridge {

struct ModbusEndpoint {
    std::string address = "127.0.0.1";  // the default serves this host only
    int port = 502;
};

// An IPv4 network that may connect: a.b.c.d/n.
struct ModbusPeers {
    uint32_t network = 0;  // host order
    uint32_t mask = 0;
    bool Admits(uint32_t address) const { return (address & mask) == network; }
};

// "10.0.0.0/8,192.168.1.7" (a plain address is /32); nothing, with the reason, when
// one is not an IPv4 network.
std::optional<std::vector<ModbusPeers>> ParseModbusPeers(const std::string& text,
                                                         std::string* error);

// ADDRESS[:PORT] ("127.0.0.1", "0.0.0.0:1502"); nothing, with the reason, when it is
// not one.
std::optional<ModbusEndpoint> ParseModbusEndpoint(const std::string& text, std::string* error);

class ModbusServer {
  public:
    using Log = std::function<void(const std::string&)>;
    static constexpr int kMaxClients = 32;

    explicit ModbusServer(Log log) : log_(std::move(log)) {}
    ~ModbusServer() { Stop(); }
    ModbusServer(const ModbusServer&) = delete;
    ModbusServer& operator=(const ModbusServer&) = delete;

    // Listens and serves; false with the reason when the address cannot be taken.
    // `allowed` empty: every peer may connect.
    bool Start(const ModbusEndpoint& endpoint, std::chrono::milliseconds idle,
               std::vector<ModbusPeers> allowed, std::string* error);
    // Closes the listening socket and every connection.
    void Stop();
    // The picture the reads are answered from.
    void Update(const std::vector<MuxView>& muxes, PollClock::time_point now,
                std::chrono::milliseconds staleAfter);

    uint64_t Connections() const { return connections_; }
    uint64_t Requests() const { return requests_; }
    uint64_t Exceptions() const { return exceptions_; }
    uint64_t Refused() const { return refused_; }

  private:
    struct Client {
        int fd;
        std::string peer;
        PollClock::time_point lastHeard;
    };
    void Serve();
    void Accept();
    // Answers one request of the client; false when the connection is to close.
    bool Answer(Client& client);
    std::vector<uint8_t> Reply(const uint8_t* request, int length, uint8_t& exception);

    Log log_;
    void* context_ = nullptr;  // modbus_t
    int listener_ = -1;
    std::array<int, 2> wake_{-1, -1};
    std::chrono::milliseconds idle_{60000};
    std::vector<ModbusPeers> allowed_;
    std::vector<Client> clients_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    ModbusMap map_;
    std::atomic<uint64_t> connections_{0};
    std::atomic<uint64_t> requests_{0};
    std::atomic<uint64_t> exceptions_{0};
    std::atomic<uint64_t> refused_{0};  // connections from peers not allowed
};

}  // namespace roderavo::tool::bridge
