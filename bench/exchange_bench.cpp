// The latency of one status exchange over a pseudo-terminal with an instant
// responder, side by side in one run:
//   roderavo  a SingleRead of the gate ALS121 through KorMain: request 8 bytes,
//             the short status reply 7 bytes;
//   libmodbus an RTU read of one holding register: request 8 bytes, reply 7;
//   bare      write the 8 bytes, poll, read the 7: the floor of any client.
// Every client has its own pty and its own responder process running the same
// code (collect 8 bytes, write the 7-byte reply in one write). The clients take
// turns in blocks, so that the load of the machine falls on all three alike.
//
//   exchange_bench [--quick]            the table rows (median, p99, ratios)
//   exchange_bench --once CLIENT        one exchange between strace markers
#include <modbus/modbus.h>
#include <zanpro/host.h>

#include <array>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench_common.h"
#include "support/allocation_counter.h"

namespace {

using bench::Nanos;

constexpr std::size_t kRequestSize = 8;
constexpr uint16_t kBaud = 57600;

// The short ALS reply of multiplexer 1: FF 06 F0 49 11 10 <checksum>.
std::vector<uint8_t> AlsShortReply() {
    std::vector<uint8_t> reply = {0xFF, 0x06, 0xF0, 0x49, 0x11, 0x10};
    unsigned sum = 0;
    for (const uint8_t byte : reply)
        if (byte != 0xFF) sum += byte;
    reply.push_back(static_cast<uint8_t>(-sum & 0xFF));
    return reply;
}

uint16_t ModbusCrc(const uint8_t* bytes, std::size_t count) {
    uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < count; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) != 0 ? static_cast<uint16_t>((crc >> 1) ^ 0xA001)
                                 : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

// Slave 1, function 3, 2 data bytes: one register, CRC low byte first.
std::vector<uint8_t> ModbusReply() {
    std::vector<uint8_t> reply = {0x01, 0x03, 0x02, 0x12, 0x34};
    const uint16_t crc = ModbusCrc(reply.data(), reply.size());
    reply.push_back(static_cast<uint8_t>(crc & 0xFF));
    reply.push_back(static_cast<uint8_t>(crc >> 8));
    return reply;
}

class Client {
  public:
    virtual ~Client() = default;
    virtual bool Exchange() = 0;
};

class RoderavoClient : public Client {
  public:
    explicit RoderavoClient(const std::string& portName) {
        zanpro::KeepLog(false);
        zanpro::SetLogSink([](int32_t, std::string_view) {});
        ok_ = instance_.Init(bench::MakeInit(portName, kBaud, 10));
    }
    bool Ok() const { return ok_; }
    bool Exchange() override {
        KorNumberValue value{0, 7};
        GateParams gate = bench::MakeGateParams("ALS121", 1, 2, 0, &value);
        return instance_.Read(gate) == 0 && value.Number == 0;
    }

  private:
    bench::Instance instance_;
    bool ok_ = false;
};

class ModbusClient : public Client {
  public:
    explicit ModbusClient(const std::string& path) {
        ctx_ = modbus_new_rtu(path.c_str(), kBaud, 'N', 8, 1);
        if (ctx_ == nullptr) return;
        modbus_set_slave(ctx_, 1);
        ok_ = modbus_connect(ctx_) == 0;
    }
    ~ModbusClient() override {
        if (ctx_ == nullptr) return;
        modbus_close(ctx_);
        modbus_free(ctx_);
    }
    bool Ok() const { return ok_; }
    bool Exchange() override {
        uint16_t value = 0;
        return modbus_read_registers(ctx_, 0, 1, &value) == 1 && value == 0x1234;
    }

  private:
    modbus_t* ctx_ = nullptr;
    bool ok_ = false;
};

// The floor: the fewest system calls an exchange can take on a non-blocking
// descriptor (write, poll, read), nothing checked but the count.
class BareClient : public Client {
  public:
    BareClient(const std::string& path, std::size_t replySize) : replySize_(replySize) {
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) return;
        termios raw{};
        tcgetattr(fd_, &raw);
        cfmakeraw(&raw);
        raw.c_cc[VMIN] = 0;
        raw.c_cc[VTIME] = 0;
        tcsetattr(fd_, TCSANOW, &raw);
    }
    ~BareClient() override {
        if (fd_ >= 0) close(fd_);
    }
    bool Ok() const { return fd_ >= 0; }
    bool Exchange() override {
        static constexpr std::array<uint8_t, kRequestSize> kRequest = {0xFF, 0x07, 0x11, 0x49,
                                                                       0x3C, 0x10, 0x15, 0x3E};
        if (write(fd_, kRequest.data(), kRequest.size()) != static_cast<ssize_t>(kRequest.size()))
            return false;
        std::array<uint8_t, 64> reply{};
        std::size_t got = 0;
        while (got < replySize_) {
            pollfd watch{fd_, POLLIN, 0};
            if (poll(&watch, 1, 1000) <= 0) return false;
            const ssize_t count = read(fd_, reply.data() + got, replySize_ - got);
            if (count < 0 && errno != EAGAIN && errno != EINTR) return false;
            if (count > 0) got += static_cast<std::size_t>(count);
        }
        return true;
    }

  private:
    int fd_ = -1;
    std::size_t replySize_;
};

struct Contender {
    const char* name;
    Client* client;
    std::vector<Nanos> samples;
};

// The allocations of a read once the instance is set up, with the host library's
// default log (kept in its ring, event lines to stderr).
int Allocations(RoderavoClient& client) {
    zanpro::KeepLog(true);
    zanpro::SetLogSink(nullptr);
    constexpr int kReads = 500;
    for (int i = 0; i < 50; ++i)
        if (!client.Exchange()) return 1;
    // Every operator new of the process: the driver's and the host library's (the
    // responder is a process of its own).
    const unsigned long before = roderavo_test::Allocations();
    for (int i = 0; i < kReads; ++i)
        if (!client.Exchange()) return 1;
    const unsigned long made = roderavo_test::Allocations() - before;
    bench::Row("allocations (operator new), after set-up",
               std::to_string(kReads) + " SingleReads ALS121 through KorMain, default log",
               bench::Fixed(static_cast<double>(made) / kReads, 2) + " per read", "", "goal 0",
               std::to_string(made) + " in all");
    return 0;
}

int Once(const std::string& which, Client& client) {
    for (int i = 0; i < 50; ++i)
        if (!client.Exchange()) return 1;
    bench::StraceMark("bench-begin");
    const bool ok = client.Exchange();
    bench::StraceMark("bench-end");
    if (!ok) std::fprintf(stderr, "exchange_bench: the %s exchange failed\n", which.c_str());
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    bool quick = false;
    std::string once;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--quick") {
            quick = true;
        } else if (arg == "--allocations") {
            once = "allocations";
        } else if (arg == "--once" && i + 1 < argc) {
            once = argv[++i];
        } else {
            std::fprintf(stderr, "usage: exchange_bench [--quick] [--once roderavo|modbus|bare]\n");
            return 2;
        }
    }

    const std::string policy = quick || !once.empty() ? "normal" : bench::UseRealtime();
    // The responders are forked before anything else runs.
    const std::vector<uint8_t> als = AlsShortReply();
    const std::vector<uint8_t> modbus = ModbusReply();
    bench::PtyResponder roderavoLine(kRequestSize, als);
    bench::PtyResponder modbusLine(kRequestSize, modbus);
    bench::PtyResponder bareLine(kRequestSize, als);
    if (!roderavoLine.Ok() || !modbusLine.Ok() || !bareLine.Ok()) {
        std::fprintf(stderr, "exchange_bench: no pseudo-terminal\n");
        return 1;
    }
    RoderavoClient roderavo(roderavoLine.PortName());
    ModbusClient modbusClient(modbusLine.Path());
    BareClient bare(bareLine.Path(), als.size());
    if (!roderavo.Ok() || !modbusClient.Ok() || !bare.Ok()) {
        std::fprintf(stderr, "exchange_bench: a client could not open its port\n");
        return 1;
    }

    if (once == "allocations") return Allocations(roderavo);
    if (once == "roderavo") return Once(once, roderavo);
    if (once == "modbus") return Once(once, modbusClient);
    if (once == "bare") return Once(once, bare);
    if (!once.empty()) {
        std::fprintf(stderr, "exchange_bench: no client %s\n", once.c_str());
        return 2;
    }

    std::vector<Contender> contenders = {{"roderavo", &roderavo, {}},
                                         {"libmodbus RTU", &modbusClient, {}},
                                         {"bare write/poll/read", &bare, {}}};
    const int rounds = quick ? 2 : 40;
    const int block = quick ? 20 : 250;
    for (Contender& c : contenders) {  // warm-up
        for (int i = 0; i < block; ++i)
            if (!c.client->Exchange()) return 1;
        c.samples.reserve(static_cast<std::size_t>(rounds * block));
    }
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t k = 0; k < contenders.size(); ++k) {
            Contender& c = contenders[(k + static_cast<std::size_t>(round)) % contenders.size()];
            for (int i = 0; i < block; ++i) {
                const Nanos start = bench::Now();
                if (!c.client->Exchange()) {
                    std::fprintf(stderr, "exchange_bench: a %s exchange failed\n", c.name);
                    return 1;
                }
                c.samples.push_back(bench::Now() - start);
            }
        }
    }

    const bench::Summary floor = bench::Summarise(contenders[2].samples);
    const bench::Summary modbusSummary = bench::Summarise(contenders[1].samples);
    for (const Contender& c : contenders) {
        const bench::Summary s = bench::Summarise(c.samples);
        const std::string name =
            std::string(c.name) + " (n=" + std::to_string(s.count) + ", " + policy + ")";
        std::string ratio = "x" + bench::Fixed(s.median / floor.median, 3) + " bare";
        if (&c == &contenders[0])
            ratio += ", x" + bench::Fixed(s.median / modbusSummary.median, 3) + " libmodbus";
        bench::Row("exchange on a pty, instant responder", name,
                   bench::Fixed(s.median / 1000, 1) + " us", bench::Fixed(s.p99 / 1000, 1) + " us",
                   "", ratio);
    }
    return 0;
}
