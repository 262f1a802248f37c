// The fault matrix: a status read (VER1) and a control write (KEY1) through KorMain
// against a far side on a pseudo-terminal that misbehaves in one way per case.
// Each case gives the result, the log lines, and ends within the hard bound of the
// formula below; after it the far side behaves, and the next exchange succeeds at
// its first attempt.
//
// The bound, with T the read time-out and c the wire time of one character: per
// attempt the drain takes at most max(50 ms, T), the write its wire time plus T,
// each piece of the reply (2 bytes, then at most 48, then 1) T plus twice its wire
// time, and the pause 50 ms; five attempts per frame, and a write adds 50 ms before.
//
// T is short (100 ms), so that the failing cases end soon. The cases whose reply
// must arrive within the time-out run with a long one (1 s) and the reply's rest
// 200 ms late: late enough that the read has to wait for it, and far enough
// inside that a loaded machine cannot push it past.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <zanpro/host.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/frame_bytes.h"
#include "support/host_records.h"
#include "support/pty_peer.h"

namespace {

using roderavo_test::Bytes;
using roderavo_test::MsSince;
using roderavo_test::PtyPeer;
using Clock = std::chrono::steady_clock;
using Log = std::vector<zanpro::LogLine>;

constexpr int32_t kPollInterval = 10;  // T = 100 ms
constexpr long kT = 10 * kPollInterval;
constexpr int32_t kLongPollInterval = 100;  // T = 1 s
constexpr uint16_t kBaud = 57600;
constexpr long kC = 1;  // ms per character at 57600 8N1, rounded up

constexpr long Piece(long t, long bytes) {
    return t + 2 * bytes * kC;
}
constexpr long Attempt(long t, long requestBytes) {
    return std::max(50L, t) + (requestBytes * kC + t) + Piece(t, 2) + Piece(t, 48) + Piece(t, 1) +
           50;
}
constexpr long Bound(long t, bool read) {
    return read ? 5 * Attempt(t, 7) : 50 + 5 * Attempt(t, 8);
}

const Bytes kVersionRequest = {0xFF, 0x06, 0x11, 0x48, 0x3C, 0x10, 0x55};
const Bytes kKeyRequest = {0xFF, 0x07, 0x11, 0x06, 0x3E, 0x10, 0x35, 0x5F};
const Bytes kVersionReply = roderavo_test::StatusReply(0x48, 0x11, {'V', '2'});
const Bytes kAck = roderavo_test::Acknowledgement(0x11);

enum class Op { Read, Write };

// What the far side does with each request.
enum class Far {
    Answers,       // sends `reply` `ms` after the request (a new request cancels what is left)
    SplitsAt,      // sends the first `split` bytes of `reply`, the rest `ms` later
    Trickles,      // sends the first two bytes of `reply`, then one byte every `ms`
    Silent,        // reads and never answers
    Floods,        // keeps noise waiting at the port, answers nothing
    StopsReading,  // reads nothing: the port's output fills
    Vanishes,      // the device goes away before the call
};

struct Case {
    std::string name;
    Op op;
    Far far;
    Bytes reply;  // empty: the good answer of the operation
    int ms = 0;
    std::size_t split = 0;
    int32_t result = 0;
    Log lines{};  // after the entry line
    int32_t pollInterval = kPollInterval;
};

// A case as gtest names it, without its bytes.
void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

Bytes With(Bytes bytes, std::size_t at, uint8_t value) {
    bytes[at] = value;
    return bytes;
}
Bytes Length(uint8_t length) {
    Bytes bytes = {0xFF, length};
    bytes.resize(2 + std::min<std::size_t>(length, 60), 0x10);
    return bytes;
}
Bytes Garbage(const Bytes& frame) {
    Bytes bytes = {0x01, 0x02, 0x03};
    bytes.insert(bytes.end(), frame.begin(), frame.end());
    return bytes;
}

const zanpro::LogLine kFirstChars{8, "VERODI: Failed to read first chars from PLC."};
const zanpro::LogLine kResponse{8, "VERODI: Failed to read Response from PLC."};
const zanpro::LogLine kWrongReceive{32, "VERODI: wrong receive"};
const zanpro::LogLine kReadFailed{32, "VERODI: Failed to read reply from PLC,GAS:VER1."};
const zanpro::LogLine kWriteFailed{32, "VERODI: Failed to read reply from PLC"};
const zanpro::LogLine kFlushFailed{32, "VERODI: Fail to flush comm port."};
const zanpro::LogLine kSendFailed{32, "VERODI: Failed to write to PLC,GAS:KEY1."};

Log Five(const Log& perAttempt, const zanpro::LogLine& last) {
    Log log;
    for (int i = 0; i < 5; ++i) log.insert(log.end(), perAttempt.begin(), perAttempt.end());
    log.push_back(last);
    return log;
}

// The same faults for both operations, with what each gives.
std::vector<Case> Cases() {
    std::vector<Case> cases;
    for (const Op op : {Op::Read, Op::Write}) {
        const bool read = op == Op::Read;
        const std::string p = read ? "Read" : "Write";
        const Bytes good = read ? kVersionReply : kAck;
        const zanpro::LogLine failed = read ? kReadFailed : kWriteFailed;
        const Log malformed = {kWrongReceive};
        const auto add = [&](std::string name, Far far, Bytes reply, int ms, std::size_t split,
                             int32_t result, Log lines, int32_t pollInterval = kPollInterval) {
            cases.push_back({p + name, op, far, std::move(reply), ms, split, result,
                             std::move(lines), pollInterval});
        };
        add("NoReply", Far::Silent, {}, 0, 0, 2, Five({kFirstChars}, failed));
        add("OneCorruptByte", Far::Answers,
            With(good, good.size() - 2, good[good.size() - 2] ^ 0x04), 0, 0, 1, malformed);
        add("WrongMultiplexer", Far::Answers, With(good, 4, 0x21), 0, 0, 1, malformed);
        add("WrongCommand", Far::Answers, With(good, 3, read ? 0x49 : 0x05), 0, 0, 1, malformed);
        if (!read)
            add("RefusedAcknowledgement", Far::Answers, roderavo_test::Acknowledgement(0x11, 0x01),
                0, 0, 1, malformed);
        add("GarbageBeforeTheFrame", Far::Answers, Garbage(good), 0, 0, 1, malformed);
        for (const uint8_t length : std::vector<uint8_t>{0, 1, 5, 50, 255})
            add("LengthByte" + std::to_string(length), Far::Answers, Length(length), 0, 0, 1,
                malformed);
        // Within: a fifth of the long time-out. Past: later than the next attempt's
        // request, which takes back what was still to come.
        constexpr int kWithin = 2 * kLongPollInterval, kPast = 4 * kT;
        add("SplitWithinTheTimeOut", Far::SplitsAt, good, kWithin, 4, 0, {}, kLongPollInterval);
        add("SplitPastTheTimeOut", Far::SplitsAt, good, kPast, 4, 2, Five({kResponse}, failed));
        add("DelayedWithinTheTimeOut", Far::Answers, good, kWithin, 0, 0, {}, kLongPollInterval);
        add("DelayedPastTheTimeOut", Far::Answers, good, kPast, 0, 2, Five({kFirstChars}, failed));
        add("Trickle", Far::Trickles, good, 3 * kT / 4, 0, 2, Five({kResponse}, failed));
        add("NoiseFlood", Far::Floods, {}, 0, 0, 1, malformed);
        add("FarSideStopsReading", Far::StopsReading, {}, 0, 0, 2,
            read ? Log{failed} : Five({kSendFailed}, failed));
        add("PortVanishes", Far::Vanishes, {}, 0, 0, 2,
            Five(read ? Log{kFlushFailed} : Log{kFlushFailed, kSendFailed}, failed));
    }
    return cases;
}

// The far side: a thread on the master of the pty that finds the requests in
// what the port writes and answers them as the case says.
class FarSide {
  public:
    FarSide(PtyPeer& peer, int portFd, const Bytes& request)
        : peer_(peer), portFd_(portFd), request_(request) {
        thread_ = std::thread([this] { Serve(); });
    }
    ~FarSide() {
        stop_ = true;
        thread_.join();
    }
    void Behave(const Case& c) {
        std::lock_guard lock(mutex_);
        case_ = c;
        schedule_.clear();
    }
    // Back to answering every request at once; what the port wrote so far is
    // dropped before this returns.
    bool Heal(const Bytes& good) {
        {
            std::lock_guard lock(mutex_);
            case_ = Case{"good", Op::Read, Far::Answers, good};
            schedule_.clear();
            heard_.clear();
            healing_ = true;
            requests_ = 0;
        }
        const auto start = Clock::now();
        while (MsSince(start) < 5000) {
            {
                std::lock_guard lock(mutex_);
                if (!healing_) return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }
    int Requests() {
        std::lock_guard lock(mutex_);
        return requests_;
    }

  private:
    void Serve() {
        Bytes noise(64, 0x55);
        while (!stop_) {
            std::unique_lock lock(mutex_);
            const Far far = case_.far;
            if (healing_) {  // drop what waits at the master, then serve
                lock.unlock();
                while (!peer_.Receive(1 << 16, 20).empty()) {
                }
                lock.lock();
                healing_ = false;
                continue;
            }
            if (far == Far::StopsReading) {
                lock.unlock();
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                continue;
            }
            if (far == Far::Floods) {
                int waiting = 0;
                if (ioctl(portFd_, FIONREAD, &waiting) == 0 && waiting < 384)
                    roderavo_test::WriteAll(peer_.MasterFd(), noise, 50);
            }
            const auto now = Clock::now();
            while (!schedule_.empty() && schedule_.front().first <= now) {
                peer_.Send(schedule_.front().second);
                schedule_.erase(schedule_.begin());
            }
            lock.unlock();
            const Bytes got = peer_.Receive(1 << 12, 3);
            lock.lock();
            heard_.insert(heard_.end(), got.begin(), got.end());
            const auto found =
                std::search(heard_.begin(), heard_.end(), request_.begin(), request_.end());
            if (found == heard_.end()) continue;
            heard_.erase(heard_.begin(), found + static_cast<long>(request_.size()));
            ++requests_;
            Answer(Clock::now());
        }
    }

    void Answer(Clock::time_point at) {
        schedule_.clear();  // a new request: what was left of the last answer is not sent
        const auto ms = [](int n) { return std::chrono::milliseconds(n); };
        const Bytes& r = case_.reply;
        switch (case_.far) {
            case Far::Answers:
                schedule_.push_back({at + ms(case_.ms), r});
                break;
            case Far::SplitsAt:
                schedule_.push_back(
                    {at, Bytes(r.begin(), r.begin() + static_cast<long>(case_.split))});
                schedule_.push_back({at + ms(case_.ms),
                                     Bytes(r.begin() + static_cast<long>(case_.split), r.end())});
                break;
            case Far::Trickles:
                schedule_.push_back({at, Bytes(r.begin(), r.begin() + 2)});
                for (std::size_t i = 2; i < r.size(); ++i)
                    schedule_.push_back({at + ms(case_.ms * static_cast<int>(i - 1)), Bytes{r[i]}});
                break;
            default:
                break;
        }
    }

    PtyPeer& peer_;
    int portFd_;
    Bytes request_;
    std::mutex mutex_;
    Case case_{"good", Op::Read, Far::Silent, {}};
    std::vector<std::pair<Clock::time_point, Bytes>> schedule_;
    Bytes heard_;
    bool healing_ = false;
    int requests_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class FaultMatrix : public ::testing::TestWithParam<Case> {
  protected:
    void SetUp() override {
        zanpro::Reset();
        zanpro::SetLogSink([](int32_t, std::string_view) {});
        peer = std::make_unique<PtyPeer>();
        ASSERT_TRUE(peer->Ok());
        InitParams params =
            roderavo_test::MakeInitParams(peer->PortName(), GetParam().pollInterval);
        params.BaudRate = kBaud;
        ASSERT_EQ(Call(KOR_FUNC_INIT, &params), KOR_OK);
    }
    void TearDown() override {
        far.reset();
        Call(KOR_FUNC_EXIT, nullptr);
        zanpro::Reset();
        zanpro::SetLogSink({});
    }

    int32_t Call(uint32_t function, void* params) {
        return roderavo_test::CallDriver(context, function, 3, params);
    }
    int PortFd() const { return static_cast<int>(context.PortHandle); }

    // The operation of the case; the log is cleared first.
    int32_t Run(Op op) {
        zanpro::ClearLog();
        if (op == Op::Read) {
            std::array<char, 64> text{};
            GateParams gate = roderavo_test::MakeGateParams("VER1", 1, KOR_ACCESS_READ_ONLY,
                                                            KOR_VALUE_TEXT, text.data());
            const int32_t result = Call(KOR_FUNC_SINGLE_READ, &gate);
            if (result == KOR_OK) {
                EXPECT_STREQ(text.data(), "V2");
            }
            return result;
        }
        KorNumberValue value{0, 53};
        GateParams gate = roderavo_test::MakeGateParams("KEY1", 1, KOR_ACCESS_WRITE_ONLY,
                                                        KOR_VALUE_NUMBER, &value);
        return Call(KOR_FUNC_SINGLE_WRITE, &gate);
    }

    // The port's output filled to the last byte, as when the far side stops
    // reading: filled again while the kernel still moves bytes on, until the port
    // stays unwritable for 100 ms.
    void FillPortOutput() {
        const Bytes block(4096, 0x55);
        pollfd room{PortFd(), POLLOUT, 0};
        do {
            while (write(PortFd(), block.data(), block.size()) > 0) {
            }
            while (write(PortFd(), block.data(), 1) > 0) {
            }
        } while (poll(&room, 1, 100) > 0);
    }

    std::unique_ptr<PtyPeer> peer;
    std::unique_ptr<FarSide> far;
    DriverContext context{};
};

TEST_P(FaultMatrix, ResultLogAndBoundThenTheNextExchangeSucceeds) {
    const Case& c = GetParam();
    const bool read = c.op == Op::Read;
    const Bytes& request = read ? kVersionRequest : kKeyRequest;
    const Bytes& good = read ? kVersionReply : kAck;
    Case fault = c;
    if (fault.reply.empty()) fault.reply = good;
    far = std::make_unique<FarSide>(*peer, PortFd(), request);
    far->Behave(fault);
    if (c.far == Far::StopsReading) FillPortOutput();
    if (c.far == Far::Vanishes) {
        far.reset();
        peer->Vanish();
        pollfd hangup{PortFd(), 0, 0};  // the port has seen the device go
        ASSERT_EQ(poll(&hangup, 1, 2000), 1);
    }

    const auto start = Clock::now();
    EXPECT_EQ(Run(c.op), c.result);
    const long took = MsSince(start);
    const long t = 10L * c.pollInterval;
    EXPECT_LE(took, Bound(t, read));
    if (c.result == KOR_OK && c.ms > 0) {
        EXPECT_GE(took, c.ms - 10);  // the read did wait for the late bytes
    }
    Log expected = {
        {8, std::string("VERODI: Entered KorMain(), with function ") + (read ? "4" : "6")}};
    expected.insert(expected.end(), c.lines.begin(), c.lines.end());
    EXPECT_EQ(zanpro::Log(), expected);

    if (c.far == Far::Vanishes) {  // unplugged: a new device, and the port set to it
        EXPECT_EQ(Call(KOR_FUNC_CLOSE_PORT, nullptr), KOR_OK);
        peer = std::make_unique<PtyPeer>();
        ASSERT_TRUE(peer->Ok());
        SetPortParams params{};
        roderavo_test::PutName(params.PortName, peer->PortName());
        params.PollInterval = c.pollInterval;
        params.BaudRate = kBaud;
        params.DataBits = 8;
        ASSERT_EQ(Call(KOR_FUNC_SET_PORT, &params), KOR_OK);
        far = std::make_unique<FarSide>(*peer, PortFd(), request);
    }
    ASSERT_TRUE(far->Heal(good));
    const auto again = Clock::now();
    EXPECT_EQ(Run(c.op), KOR_OK);
    EXPECT_LE(MsSince(again), Attempt(t, static_cast<long>(request.size())) + (read ? 0 : 50));
    EXPECT_EQ(far->Requests(), 1);
    EXPECT_EQ(zanpro::Log(), Log(expected.begin(), expected.begin() + 1));
}

INSTANTIATE_TEST_SUITE_P(Pty, FaultMatrix, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return info.param.name;
                         });

}  // namespace

namespace zanpro {
void PrintTo(const LogLine& line, std::ostream* out) {
    *out << "[" << line.level << "] " << line.text;
}
}  // namespace zanpro
