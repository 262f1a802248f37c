// The bridge's Modbus TCP face: a server on its own thread that answers reads from the
// map of what the poll last read (ModbusMap), never from the line. Every socket is
// non-blocking and one event loop serves them all, so no client can hold another:
// frames are cut by their MBAP length, a frame must arrive whole within a second, a
// client that does not take its answers is dropped, a connection silent for the idle
// time is closed, and when every place is taken the connection idle longest makes room
// for a new one. Bytes that are no Modbus TCP frame close their own connection only.
// Writes are refused (illegal function) unless a writer is given: then each write of
// a holding register is handed to it, and answered when the writer says how it ended
// (that connection waits meanwhile; the other clients do not). Stop answers a write
// still waiting with 0B and returns within a second whatever the clients do.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "bridge/core/command_queue.h"
#include "bridge/core/face.h"
#include "bridge/core/picture.h"
#include "bridge/modbus/modbus_frame.h"
#include "bridge/modbus/modbus_map.h"
#include "bridge/modbus/modbus_options.h"
#include "output/json_out.h"

namespace roderavo::tool::bridge {

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

class ModbusServer : public Face {
  public:
    using Log = std::function<void(const std::string&)>;
    static constexpr int kMaxClients = 32;
    // A frame begun must be whole within this; answers not taken within this drop the
    // client that does not read them.
    static constexpr std::chrono::milliseconds kFrameDeadline{1000};
    static constexpr std::chrono::milliseconds kSendDeadline{2000};

    explicit ModbusServer(Log log) : log_(std::move(log)) {}
    ~ModbusServer() override { Stop(); }
    ModbusServer(const ModbusServer&) = delete;
    ModbusServer& operator=(const ModbusServer&) = delete;

    // Listens and serves at the settings' endpoint; false with the reason when it cannot
    // be taken. The writes of holding registers go to `commands` when the settings make
    // the face writable; else every write is an illegal function.
    bool Start(const ModbusSettings& settings, CommandQueue* commands, std::string* error);
    // Answers the writes that wait (0B), closes the listening socket and every connection.
    void Stop() override;
    // The picture the reads are answered from.
    void Show(const std::shared_ptr<const Picture>& picture, PollClock::time_point now) override;

    ModbusCounts Counts() const;

  private:
    struct Client {
        int fd = -1;
        uint64_t id = 0;  // unique while the server runs (a descriptor is used again)
        std::string peer;
        PollClock::time_point lastHeard;                  // its last whole request, or its arrival
        std::optional<PollClock::time_point> frameBegun;  // the first byte of a frame not yet whole
        std::optional<PollClock::time_point> outSince;    // answers waiting since
        std::vector<uint8_t> in;                          // bytes not yet answered
        std::vector<uint8_t> out;                         // answers not yet sent
        std::vector<uint8_t> write;                       // the request of the write in flight
        bool ended = false;                               // the peer sends no more
        bool broken = false;                              // its connection failed
        bool Reading() const { return write.empty() && out.empty() && !ended; }
    };
    void Serve();
    void Accept();
    // Reads what the client sent and answers its whole frames; false when it is to close.
    bool Receive(Client& client);
    bool AnswerFrames(Client& client);
    // The answer of one request, or nothing when it waits for its write.
    std::optional<std::vector<uint8_t>> Answer(Client& client, std::span<const uint8_t> frame);
    // Hands a write to the writer; its exception when it is refused before.
    uint8_t StartWrite(Client& client, std::span<const uint8_t> frame,
                       const ModbusRequest& request);
    // Answers the writes that have ended; on the server's thread.
    void FinishWrites();
    std::vector<uint8_t> Refuse(std::span<const uint8_t> frame, uint8_t exception);
    // Sends what the client's answers left; false when the connection failed.
    static bool Flush(Client& client);
    // Why the client is to close now, or nothing.
    std::optional<std::string> Expired(const Client& client, PollClock::time_point now) const;
    void Close(std::size_t index, const std::string& why);
    void Drain();
    // A line about a connection, at most a few a second; the rest are counted and said
    // in one line later.
    void Note(const std::string& text);
    void SayUnsaid();

    Log log_;
    int listener_ = -1;
    std::array<int, 2> wake_{-1, -1};
    std::chrono::milliseconds idle_{60000};
    std::vector<ModbusPeers> allowed_;
    CommandQueue* commands_ = nullptr;  // none: read-only
    std::vector<std::unique_ptr<Client>> clients_;
    uint64_t nextId_ = 0;
    PollClock::time_point noteWindow_{};
    int notes_ = 0;
    uint64_t unsaid_ = 0;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;  // the writes ended, the counts
    // The poll's latest picture, swapped whole, so that a read computes from it without
    // holding anything the poll's thread waits for.
    PollClock::time_point started_ = PollClock::now();  // the heartbeat counts from here
    PictureStore picture_;
    ModbusHolding holding_;                            // the server's thread only
    std::vector<std::pair<uint64_t, uint8_t>> ended_;  // client id, exception
    ModbusCounts counts_;
};

}  // namespace roderavo::tool::bridge
