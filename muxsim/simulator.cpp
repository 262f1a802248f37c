// The simulator's line: a thread that reads request frames from the pty master or the
// serial device, lets the multiplexers answer them and puts the replies on the line,
// with the faults and the pacing asked for.
#include "simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <random>
#include <thread>
#include <type_traits>

#include "device.h"
#include "frame_reader.h"
#include "raw_line.h"

namespace muxsim {

namespace {

using Steady = std::chrono::steady_clock;

// An unfinished frame after this much quiet was noise.
inline constexpr int kFrameGapMs = 100;
// How long one write may wait for room on the line before the rest is dropped.
inline constexpr int kWriteWaitMs = 1000;

// The line's speed: the paced one, else 9600.
uint32_t LineBaud(uint32_t paced) {
    return paced == 0 ? 9600 : paced;
}

// The line's time, in nanoseconds on CLOCK_MONOTONIC: the pacing sleeps to absolute
// deadlines on it, so that late wake-ups do not add up.
using Nanos = int64_t;
inline constexpr Nanos kNanosPerSecond = 1'000'000'000;
inline constexpr Nanos kBitsPerByte = 10;  // start bit, 8 data bits, stop bit

Nanos MonotonicNow() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<Nanos>(now.tv_sec) * kNanosPerSecond + now.tv_nsec;
}

int Or(int value, int fallback) {
    return value > 0 ? value : fallback;
}

// The gap, delay or per-byte interval of a timed fault, its default when not given.
int IntervalMs(const Fault& fault) {
    switch (fault.kind) {
        case FaultKind::SplitReply:
            return Or(fault.ms, kDefaultSplitGapMs);
        case FaultKind::Delay:
            return Or(fault.ms, kDefaultDelayMs);
        case FaultKind::Trickle:
            return Or(fault.ms, kDefaultTrickleMs);
        default:
            return fault.ms;
    }
}

}  // namespace

class Simulator::Impl {
  public:
    explicit Impl(Options opts)
        : options(std::move(opts)), device(options, Steady::now()), rng(options.seed) {}

    bool Start(int lineFd, int keepFd, std::string path);
    void Stop();
    void Serve();
    void Take(const TakenFrame& frame);
    Fault ChooseFault(bool* any);
    void Emit(Answer answer, bool faulted, Fault fault);
    // Changes the reply as the fault asks, with the noise that goes before it and the
    // note for the trace. False: the reply stays unsent.
    bool Corrupt(Answer& answer, const Fault& fault, Bytes& noise, std::string& note);
    // Puts the line out as the fault paces it (split, late or byte by byte); at once
    // without a fault. `half` is where a split reply is cut.
    void Pace(std::span<const uint8_t> line, std::size_t half, const Fault* fault);
    bool Pause(int ms);  // false when stopping
    // Sleeps until the deadline on CLOCK_MONOTONIC; false when stopping.
    bool SleepUntil(Nanos deadline);
    // The time `count` bytes take on the line at Options::baud.
    Nanos WireTime(std::size_t count) const;
    // A paced line: the request bytes just read take their wire time (after the
    // previous request's) before the frames they complete are answered.
    bool AwaitRequestBytes(std::size_t count);
    // Puts the bytes on the line; with Options::baud each one when its last bit
    // would have arrived, on the schedule of the outgoing direction.
    bool Write(std::span<const uint8_t> bytes);
    bool WriteNow(std::span<const uint8_t> bytes);
    void Trace(const std::string& line);
    // Runs `access` on the device under the lock with the index of a valid
    // multiplexer (0..4) or camera (1..100); for any other number nothing is touched
    // and the answer is a value-initialised one (empty, 0, false).
    template <typename Access>
    auto AtMux(int mux, Access access) {
        return At(mux >= 0 && mux < kMuxCount, mux, access);
    }
    template <typename Access>
    auto AtCamera(int camera, Access access) {
        return At(camera >= 1 && camera <= kCameraCount, camera, access);
    }
    template <typename Access>
    auto At(bool valid, int index, Access access) {
        using Result = std::invoke_result_t<Access, Device&, std::size_t>;
        if (!valid) return Result();
        std::lock_guard lock(mutex);
        return access(device, static_cast<std::size_t>(index));
    }
    template <typename T>
    void Trim(std::vector<T>& log) const {
        const std::size_t keep = options.keptFrames;
        if (keep == 0 || log.size() <= 2 * keep) return;
        log.erase(log.begin(), log.end() - static_cast<std::ptrdiff_t>(keep));
    }

    Options options;
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    Device device;
    std::deque<Fault> queued;
    std::mt19937_64 rng;
    std::vector<ReceivedFrame> received;
    std::vector<Bytes> sent;

    int fd = -1;    // the line
    int keep = -1;  // the pty slave, held open so the master never sees a hang-up
    int wake[2] = {-1, -1};
    std::string devicePath;
    std::thread thread;
    std::atomic<bool> serving{false};
    // The paced line (Options::baud): when each direction is free again, and the
    // earliest start of the next reply (the end of its request, or the end of a
    // fault's pause).
    Nanos requestsFree = 0;
    Nanos repliesFree = 0;
    Nanos replyReady = 0;
};

bool Simulator::Impl::Start(int lineFd, int keepFd, std::string path) {
    if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        close(lineFd);
        if (keepFd >= 0) close(keepFd);
        return false;
    }
    fd = lineFd;
    keep = keepFd;
    devicePath = std::move(path);
    serving = true;
    thread = std::thread([this] { Serve(); });
    return true;
}

void Simulator::Impl::Stop() {
    if (thread.joinable()) {
        const char byte = 1;
        [[maybe_unused]] const auto written = write(wake[1], &byte, 1);
        thread.join();
    }
    serving = false;
    for (int* descriptor : {&fd, &keep, &wake[0], &wake[1]}) {
        if (*descriptor >= 0) close(*descriptor);
        *descriptor = -1;
    }
}

bool Simulator::Impl::Pause(int ms) {
    pollfd stop{wake[0], POLLIN, 0};
    const bool going = poll(&stop, 1, ms) == 0;
    replyReady = std::max(replyReady, MonotonicNow());  // the schedule goes on from here
    return going;
}

bool Simulator::Impl::SleepUntil(Nanos deadline) {
    // Long waits watch the stop pipe (slow lines: once a byte); the last stretch is
    // one exact sleep.
    constexpr Nanos kWatchFrom = 2'000'000;
    constexpr Nanos kExactPart = 2'000'000;
    const Nanos left = deadline - MonotonicNow();
    if (left > kWatchFrom) {
        pollfd stop{wake[0], POLLIN, 0};
        const Nanos watch = std::max<Nanos>(0, left - kExactPart) / 1'000'000;
        if (poll(&stop, 1, static_cast<int>(watch)) != 0) return false;
    }
    const timespec at{static_cast<time_t>(deadline / kNanosPerSecond),
                      static_cast<long>(deadline % kNanosPerSecond)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
    }
    return true;
}

Nanos Simulator::Impl::WireTime(std::size_t count) const {
    return static_cast<Nanos>(count) * kBitsPerByte * kNanosPerSecond /
           static_cast<Nanos>(options.baud);
}

bool Simulator::Impl::AwaitRequestBytes(std::size_t count) {
    if (options.baud == 0) return true;
    // The bytes were read as soon as they were written: on the line they begin
    // now, or when the bytes before them are through.
    requestsFree = std::max(requestsFree, MonotonicNow()) + WireTime(count);
    replyReady = std::max(replyReady, requestsFree);
    return SleepUntil(requestsFree);
}

bool Simulator::Impl::WriteNow(std::span<const uint8_t> bytes) {
    return WriteAll(fd, bytes, kWriteWaitMs, wake[0]);
}

bool Simulator::Impl::Write(std::span<const uint8_t> bytes) {
    if (options.baud == 0) return WriteNow(bytes);
    // Byte i is due when its last bit is through: start + (i + 1) byte times,
    // computed from the start each time, so that no rounding or late wake-up
    // carries over. Bytes that are due go out together.
    const Nanos start = std::max(repliesFree, replyReady);
    repliesFree = start + WireTime(bytes.size());
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const Nanos now = MonotonicNow();
        std::size_t due = sent;
        while (due < bytes.size() && start + WireTime(due + 1) <= now) ++due;
        if (due == sent) {
            if (!SleepUntil(start + WireTime(sent + 1))) return false;
            continue;
        }
        if (!WriteNow(bytes.subspan(sent, due - sent))) return false;
        sent = due;
    }
    return true;
}

void Simulator::Impl::Trace(const std::string& line) {
    if (!options.trace) return;
    if (options.traceSink) {
        options.traceSink(line);
    } else {
        std::fprintf(stderr, "%s\n", line.c_str());
        std::fflush(stderr);
    }
}

void Simulator::Impl::Serve() {
    // This thread paces the line: its sleeps end at their deadlines, not up to the
    // default 50 us later.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    FrameReader reader;
    std::array<uint8_t, 256> buffer{};
    std::size_t discarded = 0;
    for (;;) {
        std::array<pollfd, 2> wait{{{fd, POLLIN, 0}, {wake[0], POLLIN, 0}}};
        const int ready = poll(wait.data(), wait.size(), reader.Partial() ? kFrameGapMs : -1);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0 || wait[1].revents != 0) break;
        std::vector<TakenFrame> frames;
        if (ready == 0) {
            frames = reader.Expire();
        } else if (wait[0].revents & POLLIN) {
            const ssize_t count = read(fd, buffer.data(), buffer.size());
            if (count > 0) {
                frames = reader.Feed(std::span(buffer.data(), static_cast<std::size_t>(count)));
                if (!AwaitRequestBytes(static_cast<std::size_t>(count))) break;
            } else if (!(count < 0 && (errno == EAGAIN || errno == EINTR)) && !Pause(20)) {
                break;
            }
        } else if (!Pause(20)) {  // hang-up or error on the line: wait for it to come back
            break;
        }
        if (reader.Discarded() != discarded) {
            Trace("-> noise: " + std::to_string(reader.Discarded() - discarded) +
                  " bytes outside any frame skipped");
            discarded = reader.Discarded();
        }
        for (const TakenFrame& frame : frames) Take(frame);
    }
    serving = false;
}

Fault Simulator::Impl::ChooseFault(bool* any) {
    *any = true;
    if (!queued.empty()) {
        const Fault fault = queued.front();
        queued.pop_front();
        return fault;
    }
    std::uniform_real_distribution<double> roll(0.0, 1.0);
    for (const RandomFault& random : options.randomFaults)
        if (random.probability > 0 && roll(rng) < random.probability) return random.fault;
    *any = false;
    return {};
}

void Simulator::Impl::Take(const TakenFrame& frame) {
    ReceivedFrame entry;
    entry.bytes = frame.bytes;
    entry.checksumOk = frame.checksumOk;
    entry.mux = MuxOfAddress(frame.bytes[2]);
    entry.command = frame.bytes[3];
    entry.control = frame.bytes[4] == kControlSource;
    std::optional<Answer> answer;
    bool faulted = false;
    Fault fault;
    std::string ignored;
    {
        std::lock_guard lock(mutex);
        answer = device.Handle(frame.bytes, Steady::now());
        if (answer) {
            fault = ChooseFault(&faulted);
        } else if (!frame.checksumOk) {
            ignored = "bad checksum";
        } else if (entry.mux < 0) {
            ignored = "no multiplexer at this address";
        } else if (!device.present[static_cast<std::size_t>(entry.mux)]) {
            ignored = "multiplexer " + std::to_string(entry.mux) + " absent";
        } else {
            ignored = "not a request the multiplexer knows";
        }
        received.push_back(std::move(entry));
        Trim(received);
    }
    changed.notify_all();
    Trace("-> " + DescribeFrame(frame.bytes));
    if (!answer) {
        Trace("   ignored: " + ignored);
        return;
    }
    Emit(std::move(*answer), faulted, fault);
}

bool Simulator::Impl::Corrupt(Answer& answer, const Fault& fault, Bytes& noise, std::string& note) {
    Bytes& reply = answer.reply;
    const std::size_t length = reply[1];  // a built reply, never empty
    note = std::string(FaultKindName(fault.kind));
    switch (fault.kind) {
        case FaultKind::NoAnswer:
            return false;
        case FaultKind::BadChecksum:
            reply[length] = static_cast<uint8_t>(reply[length] + 1);
            break;
        case FaultKind::WrongSource:
            reply[4] = MuxAddress((answer.mux + 1) % kMuxCount);
            StoreChecksum(reply);
            break;
        case FaultKind::WrongCommand:
            reply[3] ^= 0x01;
            StoreChecksum(reply);
            break;
        case FaultKind::AckStatus:
            if (!answer.acknowledgement) {
                note += " (not an acknowledgement: unchanged)";
                break;
            }
            reply[6] = 0x01;
            StoreChecksum(reply);
            break;
        case FaultKind::Garbage: {
            std::uniform_int_distribution<int> byte(0x00, 0xFE);
            noise.resize(static_cast<std::size_t>(Or(fault.count, kDefaultGarbageBytes)));
            for (uint8_t& b : noise) b = static_cast<uint8_t>(byte(rng));
            break;
        }
        case FaultKind::SplitReply:
        case FaultKind::Delay:
            note += " " + std::to_string(IntervalMs(fault)) + " ms";
            break;
        case FaultKind::Trickle:
            note += " " + std::to_string(IntervalMs(fault)) + " ms a byte";
            break;
        case FaultKind::Replace:
            reply = fault.bytes;
            break;
    }
    return true;
}

void Simulator::Impl::Pace(std::span<const uint8_t> line, std::size_t half, const Fault* fault) {
    if (fault == nullptr) {
        Write(line);
        return;
    }
    switch (fault->kind) {
        case FaultKind::SplitReply:
            if (Write(line.first(half)) && Pause(IntervalMs(*fault))) Write(line.subspan(half));
            break;
        case FaultKind::Delay:
            if (Pause(IntervalMs(*fault))) Write(line);
            break;
        case FaultKind::Trickle:
            for (std::size_t i = 0; i < line.size(); ++i) {
                if (i > 0 && !Pause(IntervalMs(*fault))) break;
                if (!Write(line.subspan(i, 1))) break;
            }
            break;
        default:
            Write(line);
            break;
    }
}

void Simulator::Impl::Emit(Answer answer, bool faulted, Fault fault) {
    Bytes noise;
    std::string note;
    if (faulted && !Corrupt(answer, fault, noise, note)) {
        Trace("   fault no-answer: the reply stays unsent");
        return;
    }
    const Bytes& reply = answer.reply;
    Bytes line = noise;
    line.insert(line.end(), reply.begin(), reply.end());
    {
        std::lock_guard lock(mutex);
        sent.push_back(line);
        Trim(sent);
    }
    changed.notify_all();
    if (!noise.empty()) Trace("<- noise: " + DescribeFrame(noise));
    if (!reply.empty()) Trace("<- " + DescribeFrame(reply));
    if (faulted) Trace("   fault " + note);
    Pace(line, noise.size() + reply.size() / 2, faulted ? &fault : nullptr);
}

// ---------------------------------------------------------------------------------------------

Simulator::Simulator(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}

Simulator::~Simulator() {
    Stop();
}

bool Simulator::StartOnPty() {
    if (impl_->thread.joinable()) return false;
    RawPty pty;
    if (!OpenRawPty(LineBaud(impl_->options.baud), &pty)) return false;
    return impl_->Start(pty.master, pty.slave, pty.path);
}

bool Simulator::StartOnDevice(const std::string& path) {
    if (impl_->thread.joinable()) return false;
    const int line = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (line < 0) return false;
    LineFraming framing;  // 8N1
    framing.baud = LineBaud(impl_->options.baud);
    SetRawLine(line, framing);
    tcflush(line, TCIOFLUSH);
    return impl_->Start(line, -1, path);
}

std::string Simulator::PortName() const {
    constexpr std::string_view kDev = "/dev/";
    const std::string& path = impl_->devicePath;
    if (path.compare(0, kDev.size(), kDev) == 0) return path.substr(kDev.size());
    return path;
}

std::string Simulator::DevicePath() const {
    return impl_->devicePath;
}

void Simulator::Stop() {
    impl_->Stop();
}

bool Simulator::Serving() const {
    return impl_->serving;
}

void Simulator::SetVersion(int mux, std::string text) {
    impl_->AtMux(mux, [&](Device& d, std::size_t m) { d.version[m] = std::move(text); });
}

std::string Simulator::Version(int mux) const {
    return impl_->AtMux(mux, [](Device& d, std::size_t m) { return d.version[m]; });
}

void Simulator::SetCameraState(int camera, CameraState state) {
    SetCameraStateByte(camera, static_cast<uint8_t>(state));
}

void Simulator::SetCameraStateByte(int camera, uint8_t state) {
    impl_->AtCamera(camera, [&](Device& d, std::size_t c) { d.state[c] = state; });
}

uint8_t Simulator::CameraStateByte(int camera) const {
    return impl_->AtCamera(camera, [](Device& d, std::size_t c) { return d.state[c]; });
}

void Simulator::SetVideoLoss(int camera, bool lost) {
    SetVideoLossByte(camera, lost ? 1 : 0);
}

void Simulator::SetVideoLossByte(int camera, uint8_t value) {
    impl_->AtCamera(camera, [&](Device& d, std::size_t c) { d.videoLoss[c] = value; });
}

uint8_t Simulator::VideoLossByte(int camera) const {
    return impl_->AtCamera(camera, [](Device& d, std::size_t c) { return d.videoLoss[c]; });
}

void Simulator::SetPresent(int mux, bool present) {
    impl_->AtMux(mux, [&](Device& d, std::size_t m) { d.present[m] = present; });
}

bool Simulator::Present(int mux) const {
    return impl_->AtMux(mux, [](Device& d, std::size_t m) { return d.present[m]; });
}

void Simulator::SetClock(int mux, std::array<uint8_t, 8> bcd) {
    impl_->AtMux(mux, [&](Device& d, std::size_t m) { d.clock[m].Set(bcd, Steady::now()); });
}

void Simulator::SetClockMode(int mux, ClockMode mode) {
    impl_->AtMux(mux, [&](Device& d, std::size_t m) { d.clock[m].SetMode(mode, Steady::now()); });
}

std::array<uint8_t, 8> Simulator::ClockBytes(int mux) const {
    return impl_->AtMux(mux,
                        [](Device& d, std::size_t m) { return d.clock[m].Read(Steady::now()); });
}

void Simulator::QueueFault(Fault fault, int count) {
    std::lock_guard lock(impl_->mutex);
    for (int i = 0; i < count; ++i) impl_->queued.push_back(fault);
}

void Simulator::ClearFaults() {
    std::lock_guard lock(impl_->mutex);
    impl_->queued.clear();
}

std::vector<ReceivedFrame> Simulator::Received() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->received;
}

std::vector<std::vector<uint8_t>> Simulator::Sent() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->sent;
}

void Simulator::ClearReceived() {
    std::lock_guard lock(impl_->mutex);
    impl_->received.clear();
    impl_->sent.clear();
}

bool Simulator::WaitForFrames(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(impl_->mutex);
    return impl_->changed.wait_for(lock, timeout, [&] { return impl_->received.size() >= count; });
}

}  // namespace muxsim
