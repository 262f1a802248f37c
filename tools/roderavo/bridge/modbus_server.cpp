#include "bridge/modbus_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <modbus/modbus.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>

#include "bridge/bridge_options.h"
#include "output/json_out.h"

namespace roderavo::tool::bridge {

namespace {

inline constexpr int kMostBits = 2000;      // of one read of discrete inputs
inline constexpr int kMostRegisters = 125;  // of one read of input registers
inline constexpr uint8_t kReadDiscreteInputs = 2;
inline constexpr uint8_t kReadInputRegisters = 4;
inline constexpr uint8_t kWriteRegister = 6;
inline constexpr uint8_t kWriteRegisters = 16;
inline constexpr int kMostWritten = 123;  // registers of one write

modbus_t* Context(void* context) {
    return static_cast<modbus_t*>(context);
}

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

// Sends the frame whole, its MBAP length set to what follows it.
bool SendFrame(int fd, std::vector<uint8_t> frame) {
    const std::size_t length = frame.size() - 6;  // from the unit id on
    frame[4] = static_cast<uint8_t>(length >> 8);
    frame[5] = static_cast<uint8_t>(length & 0xFFU);
    std::size_t sent = 0;
    while (sent < frame.size()) {
        const ssize_t n = send(fd, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
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

std::optional<ModbusEndpoint> ParseModbusEndpoint(const std::string& text, std::string* error) {
    ModbusEndpoint endpoint;
    // PORT and :PORT serve this host only; ADDRESS alone takes port 502.
    const auto colon = text.rfind(':');
    const bool portOnly = colon == std::string::npos && !text.empty() &&
                          std::all_of(text.begin(), text.end(), ::isdigit);
    std::string host = portOnly ? endpoint.address : text.substr(0, colon);
    if (portOnly || colon != std::string::npos) {
        const auto port = ParsePort(std::string_view(text).substr(portOnly ? 0 : colon + 1));
        if (!port) {
            *error = "--modbus " + text + ": the port is a number 1..65535";
            return std::nullopt;
        }
        endpoint.port = *port;
    }
    if (host.empty()) host = endpoint.address;
    in_addr probe{};
    if (inet_pton(AF_INET, host.c_str(), &probe) != 1) {
        *error = "--modbus " + text +
                 ": give ADDRESS[:PORT] with an IPv4 address, e.g. 127.0.0.1:1502 or "
                 "0.0.0.0:502";
        return std::nullopt;
    }
    endpoint.address = host;
    return endpoint;
}

std::optional<std::vector<ModbusPeers>> ParseModbusPeers(const std::string& text,
                                                         std::string* error) {
    std::vector<ModbusPeers> peers;
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t comma = std::min(text.find(',', at), text.size());
        const std::string item = text.substr(at, comma - at);
        const std::size_t slash = item.find('/');
        int bits = 32;
        const std::string host = item.substr(0, slash);
        in_addr address{};
        bool ok = inet_pton(AF_INET, host.c_str(), &address) == 1;
        if (ok && slash != std::string::npos) {
            const std::string length = item.substr(slash + 1);
            const auto [end, ec] =
                std::from_chars(length.data(), length.data() + length.size(), bits);
            ok = ec == std::errc() && end == length.data() + length.size() && bits >= 0 &&
                 bits <= 32;
        }
        if (!ok) {
            *error = "--modbus-allow " + text + ": '" + item +
                     "' is not an IPv4 network (e.g. 10.1.2.0/24 or 10.1.2.3)";
            return std::nullopt;
        }
        const uint32_t mask = bits == 0 ? 0 : ~uint32_t{0} << (32 - bits);
        peers.push_back({ntohl(address.s_addr) & mask, mask});
        at = comma + 1;
    }
    return peers;
}

bool ModbusServer::Start(const ModbusEndpoint& endpoint, std::chrono::milliseconds idle,
                         std::vector<ModbusPeers> allowed, Writer writer, std::string* error) {
    idle_ = idle;
    allowed_ = std::move(allowed);
    writer_ = std::move(writer);
    modbus_t* context = modbus_new_tcp(endpoint.address.c_str(), endpoint.port);
    if (context == nullptr) {
        *error = "modbus: " + std::string(modbus_strerror(errno));
        return false;
    }
    context_ = context;
    // A frame that stops coming ends its connection within its byte time-out.
    modbus_set_byte_timeout(context, 1, 0);
    listener_ = modbus_tcp_listen(context, kMaxClients);
    if (listener_ < 0 || pipe2(wake_.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
        *error = "cannot serve Modbus TCP on " + endpoint.address + ":" +
                 std::to_string(endpoint.port) + ": " + modbus_strerror(errno);
        Stop();
        return false;
    }
    fcntl(listener_, F_SETFD, FD_CLOEXEC);
    thread_ = std::thread([this] { Serve(); });
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
    for (const Client& client : clients_) close(client.fd);
    clients_.clear();
    if (listener_ >= 0) close(listener_);
    listener_ = -1;
    {
        std::lock_guard lock(mutex_);
        for (int& fd : wake_) {
            if (fd >= 0) close(fd);
            fd = -1;
        }
    }
    if (context_ != nullptr) modbus_free(Context(context_));
    context_ = nullptr;
}

void ModbusServer::Update(const std::vector<MuxView>& muxes, PollClock::time_point now,
                          std::chrono::milliseconds staleAfter) {
    std::lock_guard lock(mutex_);
    map_.Update(muxes, now, staleAfter);
}

ModbusCounts ModbusServer::Counts() const {
    std::lock_guard lock(mutex_);
    return counts_;
}

void ModbusServer::Accept() {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    const int fd = accept4(listener_, reinterpret_cast<sockaddr*>(&address), &length, SOCK_CLOEXEC);
    if (fd < 0) return;
    const std::string peer = PeerOf(address);
    const auto admitted = [&] {
        if (allowed_.empty()) return true;
        if (address.ss_family != AF_INET) return false;
        const uint32_t ip = ntohl(reinterpret_cast<const sockaddr_in&>(address).sin_addr.s_addr);
        return std::any_of(allowed_.begin(), allowed_.end(),
                           [ip](const ModbusPeers& peers) { return peers.Admits(ip); });
    };
    std::string refusal;
    if (!admitted())
        refusal = "not in --modbus-allow";
    else if (clients_.size() >= static_cast<std::size_t>(kMaxClients))
        refusal = "already " + std::to_string(kMaxClients) + " connections";
    {
        std::lock_guard lock(mutex_);
        ++(refusal.empty() ? counts_.connections : counts_.refused);
    }
    if (!refusal.empty()) {
        log_("modbus: connection from " + peer + " refused: " + refusal);
        close(fd);
        return;
    }
    clients_.push_back({fd, nextId_++, peer, PollClock::now(), {}});
}

std::vector<uint8_t> ModbusServer::Read(const uint8_t* request, int length, uint8_t& exception) {
    const int header = modbus_get_header_length(Context(context_));
    exception = 0;
    if (length < header + 5) {
        exception = kModbusIllegalFunction;
        return {};
    }
    const uint8_t function = request[header];
    const int address = request[header + 1] << 8 | request[header + 2];
    const int count = request[header + 3] << 8 | request[header + 4];
    if (function != kReadDiscreteInputs && function != kReadInputRegisters) {
        exception = kModbusIllegalFunction;
        return {};
    }
    const bool bits = function == kReadDiscreteInputs;
    if (count < 1 || count > (bits ? kMostBits : kMostRegisters)) {
        exception = kModbusIllegalValue;
        return {};
    }
    ModbusAnswer answer;
    {
        std::lock_guard lock(mutex_);
        answer = bits ? map_.DiscreteInputs(address, count) : map_.InputRegisters(address, count);
    }
    exception = answer.exception;
    std::vector<uint8_t> values;
    if (exception != 0) return values;
    if (bits) {
        values.assign(static_cast<std::size_t>((count + 7) / 8), 0);
        for (int i = 0; i < count; ++i)
            if (answer.values[static_cast<std::size_t>(i)] != 0)
                values[static_cast<std::size_t>(i / 8)] |= static_cast<uint8_t>(1U << (i % 8));
    } else {
        for (const uint16_t value : answer.values) {
            values.push_back(static_cast<uint8_t>(value >> 8));
            values.push_back(static_cast<uint8_t>(value & 0xFFU));
        }
    }
    return values;
}

uint8_t ModbusServer::StartWrite(Client& client, const uint8_t* request, int length) {
    const int header = modbus_get_header_length(Context(context_));
    const bool many = request[header] == kWriteRegisters;
    // Function 6: address, value. Function 16: address, count, byte count, values.
    if (length < header + (many ? 6 : 5)) return kModbusIllegalValue;
    const int address = request[header + 1] << 8 | request[header + 2];
    std::vector<uint16_t> values;
    if (!many) {
        values.push_back(static_cast<uint16_t>(request[header + 3] << 8 | request[header + 4]));
    } else {
        const int count = request[header + 3] << 8 | request[header + 4];
        const int bytes = request[header + 5];
        if (count < 1 || count > kMostWritten || bytes != 2 * count || length < header + 6 + bytes)
            return kModbusIllegalValue;
        for (int i = 0; i < count; ++i)
            values.push_back(static_cast<uint16_t>(request[header + 6 + 2 * i] << 8 |
                                                   request[header + 7 + 2 * i]));
    }
    const ModbusWrite write = HoldingWrite(address, values);
    if (write.exception != 0) return write.exception;
    client.write.assign(request, request + length);
    const bool taken = writer_(write.assignment, client.peer, [this, id = client.id](uint8_t code) {
        std::lock_guard lock(mutex_);
        ended_.emplace_back(id, code);
        if (wake_[1] >= 0) {
            const char byte = 1;
            [[maybe_unused]] const auto n = ::write(wake_[1], &byte, 1);
        }
    });
    if (taken) return 0;
    client.write.clear();
    return kModbusBusy;
}

bool ModbusServer::Refuse(const Client& client, const uint8_t* request, uint8_t exception) {
    {
        std::lock_guard lock(mutex_);
        ++counts_.exceptions[exception];
    }
    modbus_set_socket(Context(context_), client.fd);
    return modbus_reply_exception(Context(context_), request, exception) >= 0;
}

bool ModbusServer::Answer(Client& client) {
    modbus_t* context = Context(context_);
    modbus_set_socket(context, client.fd);
    std::array<uint8_t, MODBUS_TCP_MAX_ADU_LENGTH> request{};
    const int length = modbus_receive(context, request.data());
    if (length < 0) {
        if (errno != ECONNRESET)
            log_("modbus: connection from " + client.peer + " closed: " + modbus_strerror(errno));
        return false;
    }
    if (length == 0) return true;
    // The MBAP header's protocol id is 0 for Modbus; anything else is another protocol.
    if (request[2] != 0 || request[3] != 0) {
        log_("modbus: connection from " + client.peer + " closed: protocol id " +
             std::to_string(request[2] << 8 | request[3]) + " is not Modbus");
        return false;
    }
    client.lastHeard = PollClock::now();
    {
        std::lock_guard lock(mutex_);
        ++counts_.requests;
    }
    const int header = modbus_get_header_length(context);
    const uint8_t function = length > header ? request[header] : 0;
    if (writer_ && (function == kWriteRegister || function == kWriteRegisters)) {
        const uint8_t exception = StartWrite(client, request.data(), length);
        return exception == 0 || Refuse(client, request.data(), exception);
    }
    uint8_t exception = 0;
    const std::vector<uint8_t> values = Read(request.data(), length, exception);
    if (exception != 0) return Refuse(client, request.data(), exception);
    // The answer: the request's MBAP header, its function, the byte count and the values.
    std::vector<uint8_t> frame(request.begin(), request.begin() + header + 1);
    frame.push_back(static_cast<uint8_t>(values.size()));
    frame.insert(frame.end(), values.begin(), values.end());
    return SendFrame(client.fd, std::move(frame));
}

void ModbusServer::FinishWrites() {
    std::vector<std::pair<uint64_t, uint8_t>> ended;
    {
        std::lock_guard lock(mutex_);
        ended.swap(ended_);
    }
    const int header = modbus_get_header_length(Context(context_));
    for (const auto& [id, exception] : ended) {
        const auto client = std::find_if(clients_.begin(), clients_.end(),
                                         [id = id](const Client& c) { return c.id == id; });
        if (client == clients_.end()) continue;  // it has gone meanwhile
        const std::vector<uint8_t> request = std::move(client->write);
        client->write.clear();
        client->lastHeard = PollClock::now();
        // Done: the request's header, function, address and value (6) or count (16).
        const bool sent =
            exception != 0 ? Refuse(*client, request.data(), exception)
                           : SendFrame(client->fd, {request.begin(), request.begin() + header + 5});
        if (!sent) {
            close(client->fd);
            clients_.erase(client);
        }
    }
}

void ModbusServer::Serve() {
    while (!stopping_) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(listener_, &readable);
        FD_SET(wake_[0], &readable);
        int highest = std::max(listener_, wake_[0]);
        for (const Client& client : clients_) {
            if (!client.write.empty()) continue;  // its next request waits for the answer
            FD_SET(client.fd, &readable);
            highest = std::max(highest, client.fd);
        }
        timeval wait{1, 0};  // the idle connections are looked at each second
        const int ready = select(highest + 1, &readable, nullptr, nullptr, &wait);
        if (ready < 0 && errno != EINTR) break;
        if (stopping_) break;
        if (ready > 0 && FD_ISSET(wake_[0], &readable)) {
            std::array<char, 64> drained{};
            while (read(wake_[0], drained.data(), drained.size()) > 0) {
            }
            FinishWrites();
        }
        const auto now = PollClock::now();
        for (auto it = clients_.begin(); it != clients_.end();) {
            bool keep = true;
            if (!it->write.empty())
                keep = true;  // waits for its write, however long the line takes
            else if (ready > 0 && FD_ISSET(it->fd, &readable))
                keep = Answer(*it);
            else if (now - it->lastHeard > idle_)
                keep = false;
            if (keep) {
                ++it;
            } else {
                close(it->fd);
                it = clients_.erase(it);
            }
        }
        if (ready > 0 && FD_ISSET(listener_, &readable)) Accept();
    }
}

}  // namespace roderavo::tool::bridge
