// The bridge's Modbus TCP face (libmodbus): a server on its own thread that answers
// reads from the map of what the poll last read (ModbusMap), never from the line.
// Several clients at once; each connection is closed after an idle time; a frame
// libmodbus cannot take closes that connection only, logged once. Writes are
// refused (illegal function) unless a writer is given: then each write of a holding
// register is handed to it, and answered when the writer says how it ended (the
// connection waits meanwhile; the other clients do not).
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
#include "output/json_out.h"

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

// What the face counted: connections taken and refused, requests, and the
// exceptions answered by their code.
struct ModbusCounts {
    uint64_t connections = 0;
    uint64_t refused = 0;  // peers not allowed, or one too many
    uint64_t requests = 0;
    std::array<uint64_t, kModbusTargetFailed + 1> exceptions{};
};

// The counts as the bridge says them when it ends ("3 connections, 12 requests,
// 2 exceptions (02: 1, 0B: 1), 0 connections refused"), and as its --json statistics
// record has them (the exceptions by code, "01" .. "0B").
std::string ModbusCountsText(const ModbusCounts& counts);
Json ModbusCountsRecord(const ModbusCounts& counts);

class ModbusServer {
  public:
    using Log = std::function<void(const std::string&)>;
    // Runs the assignment (ADDRESS=VALUE) asked by `peer` and calls `done` with the
    // exception code (0: done) once the multiplexer acknowledged it or it failed, on
    // any thread; false when it cannot be taken now (it is answered busy).
    using Done = std::function<void(uint8_t exception)>;
    using Writer =
        std::function<bool(const std::string& assignment, const std::string& peer, Done done)>;
    static constexpr int kMaxClients = 32;

    explicit ModbusServer(Log log) : log_(std::move(log)) {}
    ~ModbusServer() { Stop(); }
    ModbusServer(const ModbusServer&) = delete;
    ModbusServer& operator=(const ModbusServer&) = delete;

    // Listens and serves; false with the reason when the address cannot be taken.
    // `allowed` empty: every peer may connect.
    // `writer` empty: read-only, every write is an illegal function.
    bool Start(const ModbusEndpoint& endpoint, std::chrono::milliseconds idle,
               std::vector<ModbusPeers> allowed, Writer writer, std::string* error);
    // Closes the listening socket and every connection.
    void Stop();
    // The picture the reads are answered from.
    void Update(const std::vector<MuxView>& muxes, PollClock::time_point now,
                std::chrono::milliseconds staleAfter);

    ModbusCounts Counts() const;

  private:
    struct Client {
        int fd;
        uint64_t id;  // unique while the server runs (a descriptor is used again)
        std::string peer;
        PollClock::time_point lastHeard;
        std::vector<uint8_t> write;  // the request of the write in flight, if any
    };
    void Serve();
    void Accept();
    // Answers one request of the client; false when the connection is to close.
    bool Answer(Client& client);
    // The values a read asks for, or its exception.
    std::vector<uint8_t> Read(const uint8_t* request, int length, uint8_t& exception);
    // Hands a write to the writer; its exception when it is refused before.
    uint8_t StartWrite(Client& client, const uint8_t* request, int length);
    // Answers the writes that have ended; on the server's thread.
    void FinishWrites();
    bool Refuse(const Client& client, const uint8_t* request, uint8_t exception);

    Log log_;
    void* context_ = nullptr;  // modbus_t
    int listener_ = -1;
    std::array<int, 2> wake_{-1, -1};
    std::chrono::milliseconds idle_{60000};
    std::vector<ModbusPeers> allowed_;
    Writer writer_;
    std::vector<Client> clients_;
    uint64_t nextId_ = 0;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;  // the map, the writes ended, the counts
    ModbusMap map_;
    std::vector<std::pair<uint64_t, uint8_t>> ended_;  // client id, exception
    ModbusCounts counts_;
};

}  // namespace roderavo::tool::bridge
