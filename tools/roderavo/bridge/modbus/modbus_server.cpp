#include "bridge/modbus/modbus_server.h"

#include <pthread.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "bridge/core/command_runner.h"
#include "bridge/core/counters.h"
#include "output/json_out.h"

namespace roderavo::tool::bridge {

namespace {

inline constexpr int kMostAccepted = 64;    // connections taken in one turn of the loop
inline constexpr int kNotesPerWindow = 10;  // lines about connections in ten seconds
inline constexpr std::chrono::seconds kNoteWindow{10};
inline constexpr int kSendBuffer = 16384;

std::string PeerOf(const sockaddr_storage& address) {
    std::array<char, INET6_ADDRSTRLEN> text{};
    if (address.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
        inet_ntop(AF_INET, &v4.sin_addr, text.data(), text.size());
        return std::string(text.data()) + ":" + std::to_string(ntohs(v4.sin_port));
    }
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
    inet_ntop(AF_INET6, &v6.sin6_addr, text.data(), text.size());
    return "[" + std::string(text.data()) + "]:" + std::to_string(ntohs(v6.sin6_port));
}

// An exception code as Modbus documents it: two hex digits.
std::string CodeText(std::size_t code) {
    std::array<char, 8> text{};
    std::snprintf(text.data(), text.size(), "%02zX", code);
    return text.data();
}

}  // namespace

std::string ModbusCountsText(const ModbusCounts& counts) {
    const auto count = [](uint64_t n, const std::string& what) {
        return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
    };
    std::string text =
        count(counts.connections, "connection") + ", " + count(counts.requests, "request") + ", ";
    uint64_t exceptions = 0;
    std::string byCode;
    for (std::size_t code = 0; code < counts.exceptions.size(); ++code) {
        if (counts.exceptions[code] == 0) continue;
        exceptions += counts.exceptions[code];
        byCode += std::string(byCode.empty() ? " (" : ", ") + CodeText(code) + ": " +
                  std::to_string(counts.exceptions[code]);
    }
    return text + count(exceptions, "exception") + (byCode.empty() ? "" : byCode + ")") + ", " +
           count(counts.refused, "connection") + " refused";
}

Json ModbusCountsRecord(const ModbusCounts& counts) {
    Json exceptions = Json::object();
    for (const uint8_t code : {kModbusIllegalFunction, kModbusIllegalAddress, kModbusIllegalValue,
                               kModbusDeviceFailure, kModbusBusy, kModbusTargetFailed})
        exceptions[CodeText(code)] = counts.exceptions[code];
    return {{"connections", counts.connections},
            {"refused", counts.refused},
            {"requests", counts.requests},
            {"exceptions", exceptions}};
}

namespace {

// Listens on the endpoint, non-blocking; the descriptor, or -1 with errno set.
int Listen(const ModbusEndpoint& endpoint) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(endpoint.port));
    if (inet_pton(AF_INET, endpoint.address.c_str(), &address.sin_addr) != 1) {
        errno = EINVAL;
        return -1;
    }
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, 64) != 0) {
        const int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

}  // namespace

bool ModbusServer::Start(const ModbusSettings& settings, CommandQueue* commands,
                         std::string* error) {
    const ModbusEndpoint& endpoint = *settings.endpoint;
    idle_ = settings.idle;
    allowed_ = settings.peers;
    commands_ = settings.writable ? commands : nullptr;
    listener_ = Listen(endpoint);
    if (listener_ < 0 || pipe2(wake_.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
        *error = "cannot serve Modbus TCP on " + endpoint.address + ":" +
                 std::to_string(endpoint.port) + ": " + std::strerror(errno);
        Stop();
        return false;
    }
    thread_ = std::thread([this] {
        pthread_setname_np(pthread_self(), "rd-modbus");  // each thread by its job in ps -L
        Serve();
    });
    return true;
}

void ModbusServer::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        if (wake_[1] >= 0) {
            const char byte = 0;
            [[maybe_unused]] const auto n = write(wake_[1], &byte, 1);
        }
    }
    if (thread_.joinable()) thread_.join();
    Drain();
    if (listener_ >= 0) close(listener_);
    listener_ = -1;
    std::lock_guard lock(mutex_);
    for (int& fd : wake_) {
        if (fd >= 0) close(fd);
        fd = -1;
    }
}

// The writes that wait are answered 0B (the bridge ends before they run), each client
// is given what it can take at once, and every connection is closed.
void ModbusServer::Drain() {
    FinishWrites();
    for (const auto& client : clients_) {
        if (!client->write.empty()) {
            const std::vector<uint8_t> answer = Refuse(client->write, kModbusTargetFailed);
            client->out.insert(client->out.end(), answer.begin(), answer.end());
            client->write.clear();
        }
        Flush(*client);
        close(client->fd);
    }
    clients_.clear();
    ProcessCounters().Connections(FaceId::kModbus, static_cast<int>(clients_.size()));
    SayUnsaid();
}

void ModbusServer::Show(const std::shared_ptr<const Picture>& picture, PollClock::time_point) {
    picture_.Publish(picture);
}

ModbusCounts ModbusServer::Counts() const {
    std::lock_guard lock(mutex_);
    return counts_;
}

void ModbusServer::Note(const std::string& text) {
    const auto now = PollClock::now();
    if (now - noteWindow_ >= kNoteWindow) {
        SayUnsaid();
        noteWindow_ = now;
        notes_ = 0;
    }
    if (notes_ < kNotesPerWindow) {
        ++notes_;
        log_(text);
    } else {
        ++unsaid_;
    }
}

void ModbusServer::SayUnsaid() {
    if (unsaid_ > 0)
        log_("modbus: " + std::to_string(unsaid_) + " more " + (unsaid_ == 1 ? "line" : "lines") +
             " about connections not logged");
    unsaid_ = 0;
}

void ModbusServer::Close(std::size_t index, const std::string& why) {
    const Client& client = *clients_[index];
    if (!why.empty()) Note("modbus: connection from " + client.peer + " closed: " + why);
    close(client.fd);
    clients_.erase(clients_.begin() + static_cast<std::ptrdiff_t>(index));
    ProcessCounters().Connections(FaceId::kModbus, static_cast<int>(clients_.size()));
}

void ModbusServer::Accept() {
    for (int taken = 0; taken < kMostAccepted; ++taken) {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        const int fd = accept4(listener_, reinterpret_cast<sockaddr*>(&address), &length,
                               SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) return;
        const std::string peer = PeerOf(address);
        const bool admitted =
            allowed_.empty() ||
            (address.ss_family == AF_INET &&
             std::any_of(allowed_.begin(), allowed_.end(), [&](const ModbusPeers& peers) {
                 return peers.Admits(
                     ntohl(reinterpret_cast<const sockaddr_in&>(address).sin_addr.s_addr));
             }));
        if (admitted && clients_.size() >= static_cast<std::size_t>(kMaxClients)) {
            // Silent sockets must not lock a SCADA out: the one idle longest makes room.
            const auto idlest = std::min_element(
                clients_.begin(), clients_.end(), [](const auto& a, const auto& b) {
                    return a->write.empty() > b->write.empty() ||
                           (a->write.empty() == b->write.empty() && a->lastHeard < b->lastHeard);
                });
            if ((*idlest)->write.empty())
                Close(static_cast<std::size_t>(idlest - clients_.begin()),
                      "idle longest of " + std::to_string(kMaxClients) + ", to admit " + peer);
        }
        const bool room = clients_.size() < static_cast<std::size_t>(kMaxClients);
        {
            std::lock_guard lock(mutex_);
            ++(admitted && room ? counts_.connections : counts_.refused);
        }
        if (!admitted || !room) {
            Note("modbus: connection from " + peer + " refused: " +
                 (admitted ? "already " + std::to_string(kMaxClients) +
                                 " connections, each waiting for a write"
                           : std::string("not in --modbus-allow")));
            close(fd);
            continue;
        }
        // Answers are a few hundred bytes: a small send buffer bounds what a client that
        // does not read can make the kernel keep, and shows it soon.
        const int buffer = kSendBuffer;
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
        auto client = std::make_unique<Client>();
        client->fd = fd;
        client->id = nextId_++;
        client->peer = peer;
        client->lastHeard = PollClock::now();
        clients_.push_back(std::move(client));
        ProcessCounters().Connections(FaceId::kModbus, static_cast<int>(clients_.size()));
    }
}

bool ModbusServer::Receive(Client& client) {
    std::array<uint8_t, 1024> bytes{};
    // Never more than a frame's worth ahead: the rest waits in the socket.
    while (client.in.size() < 2 * kLongestAdu) {
        const ssize_t n = recv(client.fd, bytes.data(), bytes.size(), MSG_DONTWAIT);
        if (n > 0) {
            client.in.insert(client.in.end(), bytes.begin(), bytes.begin() + n);
            continue;
        }
        if (n == 0) client.ended = true;
        if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK) break;
        if (errno == EINTR) continue;
        return false;
    }
    return AnswerFrames(client);
}

bool ModbusServer::AnswerFrames(Client& client) {
    const auto now = PollClock::now();
    while (client.write.empty() && client.out.empty()) {
        const FrameCut cut = CutFrame(client.in);
        if (cut.kind == FrameCut::Kind::kBad) {
            Note("modbus: connection from " + client.peer + " closed: " + cut.why);
            return false;
        }
        if (cut.kind == FrameCut::Kind::kIncomplete) {
            if (client.in.empty())
                client.frameBegun.reset();
            else if (!client.frameBegun)
                client.frameBegun = now;
            return Flush(client);
        }
        const std::vector<uint8_t> frame(
            client.in.begin(), client.in.begin() + static_cast<std::ptrdiff_t>(cut.length));
        client.in.erase(client.in.begin(),
                        client.in.begin() + static_cast<std::ptrdiff_t>(cut.length));
        client.lastHeard = now;
        client.frameBegun.reset();
        if (auto answer = Answer(client, frame))
            client.out.insert(client.out.end(), answer->begin(), answer->end());
        if (!Flush(client)) return false;
    }
    // It waits for its write or for its answers to be taken: no frame deadline meanwhile.
    client.frameBegun.reset();
    return true;
}

bool ModbusServer::Flush(Client& client) {
    while (!client.out.empty()) {
        const ssize_t n =
            send(client.fd, client.out.data(), client.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            client.out.erase(client.out.begin(), client.out.begin() + n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!client.outSince) client.outSince = PollClock::now();
            return true;
        }
        return false;
    }
    client.outSince.reset();
    return true;
}

std::optional<std::vector<uint8_t>> ModbusServer::Answer(Client& client,
                                                         std::span<const uint8_t> frame) {
    {
        std::lock_guard lock(mutex_);
        ++counts_.requests;
    }
    const ModbusRequest request = ReadRequest(frame.subspan(kMbapLength));
    // Read-only: every write is refused, whatever it asks.
    if (request.IsWrite() && commands_ == nullptr) return Refuse(frame, kModbusIllegalFunction);
    if (request.exception != 0) return Refuse(frame, request.exception);
    if (request.IsWrite()) {
        const uint8_t exception = StartWrite(client, frame, request);
        if (exception != 0) return Refuse(frame, exception);
        return std::nullopt;
    }
    const ModbusMap map(picture_.Latest(), started_);
    const auto now = PollClock::now();
    const ModbusAnswer answer = request.function == kReadDiscreteInputs
                                    ? map.DiscreteInputs(request.address, request.count, now)
                                : request.function == kReadInputRegisters
                                    ? map.InputRegisters(request.address, request.count, now)
                                    : holding_.Read(request.address, request.count);
    if (answer.exception != 0) return Refuse(frame, answer.exception);
    return ReadAnswer(frame, request.function == kReadDiscreteInputs, answer.values);
}

uint8_t ModbusServer::StartWrite(Client& client, std::span<const uint8_t> frame,
                                 const ModbusRequest& request) {
    const ModbusWrite write = HoldingWrite(request.address, request.values);
    if (write.exception != 0) return write.exception;
    client.write.assign(frame.begin(), frame.end());
    Command command;
    command.face = "modbus";
    command.assignment = write.assignment;
    command.peer = client.peer;
    command.answer = [this, id = client.id](const CommandResult& result) {
        std::lock_guard lock(mutex_);
        ended_.emplace_back(id, ExceptionOf(result));
        if (wake_[1] >= 0) {
            const char byte = 1;
            [[maybe_unused]] const auto n = ::write(wake_[1], &byte, 1);
        }
    };
    // Answered when it ends (busy at once, when the queue is full).
    Submit(*commands_, std::move(command));
    return 0;
}

std::vector<uint8_t> ModbusServer::Refuse(std::span<const uint8_t> frame, uint8_t exception) {
    {
        std::lock_guard lock(mutex_);
        ++counts_.exceptions[exception];
    }
    return ExceptionAnswer(frame, exception);
}

void ModbusServer::FinishWrites() {
    std::vector<std::pair<uint64_t, uint8_t>> ended;
    {
        std::lock_guard lock(mutex_);
        ended.swap(ended_);
    }
    for (const auto& [id, exception] : ended) {
        const auto found = std::find_if(clients_.begin(), clients_.end(),
                                        [id = id](const auto& c) { return c->id == id; });
        if (found == clients_.end() || (*found)->write.empty()) continue;  // it has gone
        Client& client = **found;
        const std::vector<uint8_t> frame = std::move(client.write);
        client.write.clear();
        std::vector<uint8_t> answer;
        if (exception == 0) {
            const ModbusRequest request = ReadRequest(std::span(frame).subspan(kMbapLength));
            holding_.Written(request.address, request.values);
            answer = WriteAnswer(frame);
        } else {
            answer = Refuse(frame, exception);
        }
        client.out.insert(client.out.end(), answer.begin(), answer.end());
        client.lastHeard = PollClock::now();
        if (!AnswerFrames(client)) client.broken = true;
    }
}

std::optional<std::string> ModbusServer::Expired(const Client& client,
                                                 PollClock::time_point now) const {
    if (client.broken || (client.ended && client.write.empty() && client.out.empty()))
        return "";  // reset or closed by the peer: nothing to say
    if (client.outSince && now - *client.outSince > kSendDeadline)
        return "it does not read its answers";
    if (client.frameBegun && now - *client.frameBegun > kFrameDeadline)
        return "no whole frame within " + std::to_string(kFrameDeadline.count()) + " ms";
    if (client.write.empty() && client.out.empty() && client.in.empty() &&
        now - client.lastHeard > idle_)
        return "";  // idle: closed without a word, as a client may expect
    return std::nullopt;
}

void ModbusServer::Serve() {
    std::vector<pollfd> fds;
    while (!stopping_) {
        fds.assign({{wake_[0], POLLIN, 0}, {listener_, POLLIN, 0}});
        for (const auto& client : clients_)
            fds.push_back({client->fd,
                           static_cast<short>((client->Reading() ? POLLIN : 0) |
                                              (client->out.empty() ? 0 : POLLOUT)),
                           0});
        // The deadlines (a frame's, the answers', the idle time) are looked at every 100 ms
        // while there are clients.
        const int ready = poll(fds.data(), fds.size(), clients_.empty() ? 1000 : 100);
        if (ready < 0 && errno != EINTR) break;
        if (stopping_) break;
        if (fds[0].revents != 0) {
            std::array<char, 64> drained{};
            while (read(wake_[0], drained.data(), drained.size()) > 0) {
            }
            FinishWrites();
        }
        const auto now = PollClock::now();
        for (std::size_t i = clients_.size(); i-- > 0;) {
            Client& client = *clients_[i];
            const short events = fds[i + 2].revents;
            bool ok = true;
            if ((events & (POLLERR | POLLNVAL)) != 0) ok = false;
            if (ok && (events & (POLLIN | POLLHUP)) != 0 && client.Reading()) ok = Receive(client);
            if (ok && (events & POLLOUT) != 0) ok = Flush(client) && AnswerFrames(client);
            if (!ok) client.broken = true;
            if (const auto why = Expired(client, now)) Close(i, *why);
        }
        if ((fds[1].revents & POLLIN) != 0) Accept();
    }
}

}  // namespace roderavo::tool::bridge
