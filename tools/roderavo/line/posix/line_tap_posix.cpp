#include "line/line_tap.h"

#include <pthread.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include <muxsim/raw_line.h>

#include "line/port.h"
#include "line/posix/put_back_posix.h"
#include "output/text.h"
#include "serial/posix/device_claim.h"

namespace roderavo::tool {

namespace {

using Clock = LineMonitor::Clock;

// An unfinished frame after this much quiet was noise (as the simulator takes it).
constexpr int kFrameGapMs = 100;
// How long one relayed write may wait for room before the rest is dropped.
constexpr int kWriteWaitMs = 1000;

// A device that hangs up (a simulator gone, an adapter pulled) is looked at again after
// a pause that doubles from the first to the longest while it stays so.
constexpr int kFirstHangUpPauseMs = 20;
constexpr int kLongestHangUpPauseMs = 1000;
// An unfinished reply is read again once its missing bytes can have come (at 10 bits a
// byte, the fastest framing), not byte by byte: at 9600 baud a byte comes each ms. No
// longer than this, so that a reply is never held much past its last byte.
constexpr int kLongestFramePauseMs = 50;

// How many pseudo-terminals the tap is given before it finds one for the driver.
constexpr int kPtyAttempts = 16;

// Whether the driver can take the pty's lock file: taken and given back by the same
// rules, so that a stale one is gone and anything the driver would refuse shows.
// Without a lock folder the driver takes none.
bool DriverCanLock(const posix::LockPath& lock) {
    if (posix::TakeLock(lock) == posix::LockResult::HeldByOther) return false;
    posix::ReleaseLock(lock);
    return true;
}

// A new pty that no lock file keeps the driver from. A lock file left naming the
// number the system hands out (by a run that was killed, or by a program whose pty
// is gone) would refuse the driver the port; such a pty is held open while the next
// one is made, so that its number is not handed out again, then let go. False with
// the reason when none is found.
bool OpenDriversPty(uint32_t baud, muxsim::RawPty* pty, posix::LockPath* lock, std::string* error) {
    std::vector<muxsim::RawPty> passedOver;
    bool found = false;
    while (!found && passedOver.size() < static_cast<std::size_t>(kPtyAttempts)) {
        muxsim::RawPty candidate;
        if (!muxsim::OpenRawPty(baud, &candidate)) break;
        posix::LockPath candidateLock{};
        posix::LockPathFor(candidate.path.c_str(), candidateLock);
        found = DriverCanLock(candidateLock);
        if (found) {
            *pty = candidate;
            *lock = candidateLock;
        } else {
            passedOver.push_back(candidate);
        }
    }
    if (!found && passedOver.empty())
        *error = "no pseudo-terminal for the protocol tap (is /dev/ptmx there?)";
    else if (!found)
        *error = "no pseudo-terminal for the protocol tap: lock files name each of the " +
                 std::to_string(passedOver.size()) + " it was given (" + passedOver.front().path +
                 " to " + passedOver.back().path + ")";
    for (const muxsim::RawPty& other : passedOver) {
        close(other.master);
        close(other.slave);
    }
    return found;
}

}  // namespace

class LineTap::Impl {
  public:
    explicit Impl(int timeoutMs, Sink traceSink) : monitor(timeoutMs), sink(std::move(traceSink)) {}
    ~Impl() { Stop(); }

    bool Open(const std::string& devicePath, const LineSettings& line, std::string* error);
    void Stop();
    void Relay();
    // Moves what one side has to the other; false when the side has nothing more.
    bool Pass(int from, int to, muxsim::FrameReader& reader, bool fromDevice);
    // Tells the monitor of bytes that passed, and prints what it makes of them.
    void Describe(std::span<const uint8_t> bytes, muxsim::FrameReader& reader, bool fromDevice);
    void Print(const std::vector<std::string>& lines);
    int WaitMs();
    // Waits for the wake pipe up to `ms`; false when the tap is to stop.
    bool Pause(int ms);
    // The time the unfinished reply's missing bytes take on the line, in ms.
    int FramePauseMs() const;

    std::mutex mutex;  // the monitor
    std::mutex stopping;
    LineMonitor monitor;
    Sink sink;
    muxsim::FrameReader hostFrames, deviceFrames;
    Taken* taken = nullptr;  // the device's slot: what the tap changed on it
    int device = -1, master = -1, slave = -1;
    int wake[2] = {-1, -1};
    uint32_t baud = 9600;
    int hangUpPauseMs = kFirstHangUpPauseMs;
    std::string portName;
    std::thread thread;
};

bool LineTap::Impl::Open(const std::string& devicePath, const LineSettings& line,
                         std::string* error) {
    taken = TakeSlot();
    if (taken == nullptr) {
        *error = "no room for another protocol tap";
        return false;
    }
    muxsim::RawPty pty;
    posix::LockPath ptyLock{};
    const bool opened = OpenDriversPty(line.baudRate, &pty, &ptyLock, error);
    master = pty.master;  // closed by Stop, also after a failure
    slave = pty.slave;
    if (!opened) return false;
    if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        *error = std::string("no pipe for the protocol tap: ") + std::strerror(errno);
        return false;
    }
    portName = pty.path.substr(std::strlen("/dev/"));
    taken->ptyLock = ptyLock;
    // The device is taken by the driver's own rules: its lock files, flock and
    // TIOCEXCL, as PortOpenExclusive takes a port.
    if (posix::ClaimDevice(devicePath.c_str(), true, taken->claim) != posix::ClaimResult::Claimed) {
        const int why = errno;  // the claim names the holder's kind
        *error = DiagnosePort(devicePath, why);
        if (error->empty()) *error = "cannot open " + devicePath + ": " + std::strerror(why);
        return false;
    }
    device = taken->claim.fd;
    baud = line.baudRate;
    taken->haveFound = tcgetattr(device, &taken->found) == 0;
    PublishSlot(*taken);  // from here a signal handler can put it back
    if (!muxsim::SetRawLine(device,
                            {line.baudRate, line.dataBits, line.parity, line.stopBits != 0})) {
        *error = devicePath + " could not be set to the line settings given";
        return false;
    }
    tcflush(device, TCIOFLUSH);
    thread = std::thread([this] {
        pthread_setname_np(pthread_self(), "rd-tap");  // each thread by its job in ps -L
        Relay();
    });
    return true;
}

// Also after a failed Open: the device gets its line settings back and is given
// back (TIOCEXCL cleared, our lock file removed) before anything else closes.
void LineTap::Impl::Stop() {
    std::lock_guard lock(stopping);
    if (thread.joinable()) {
        const char byte = 1;
        [[maybe_unused]] const auto written = write(wake[1], &byte, 1);
        thread.join();
    }
    if (taken != nullptr) {
        SignalsHeld held;
        if (WithdrawSlot(*taken)) {  // else a handler has it: the process ends
            if (taken->haveFound) tcsetattr(taken->claim.fd, TCSANOW, &taken->found);
            posix::ReleaseClaim(taken->claim);  // TIOCEXCL, the lock file, the close
            FreeSlot(*taken);
        }
        taken = nullptr;
        device = -1;
    }
    for (int* fd : {&device, &master, &slave, &wake[0], &wake[1]}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
}

void LineTap::Impl::Print(const std::vector<std::string>& lines) {
    if (!sink) return;
    const std::string stamp = LocalTimeMsText();
    for (const auto& line : lines) sink(stamp + " " + line);
}

int LineTap::Impl::WaitMs() {
    int wait = hostFrames.Partial() || deviceFrames.Partial() ? kFrameGapMs : -1;
    std::lock_guard lock(mutex);
    if (const auto deadline = monitor.Deadline()) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
        const int ms = static_cast<int>(std::max<long long>(left, 0));
        wait = wait < 0 ? ms : std::min(wait, ms);
    }
    return wait;
}

bool LineTap::Impl::Pass(int from, int to, muxsim::FrameReader& reader, bool fromDevice) {
    std::array<uint8_t, 512> buffer{};
    std::size_t have = 0;
    bool alive = true;
    for (;;) {
        const ssize_t count = read(from, buffer.data() + have, buffer.size() - have);
        if (count <= 0) {
            alive = count < 0 && (errno == EAGAIN || errno == EINTR);
            break;
        }
        Describe({buffer.data() + have, static_cast<std::size_t>(count)}, reader, fromDevice);
        have += static_cast<std::size_t>(count);
        // A reply goes on whole where the line lets it: the driver then reads it at
        // once, not byte by byte as the device sends it. A pause that brings nothing
        // more (a split reply) passes on what came.
        const int pause = fromDevice ? FramePauseMs() : 0;
        if (pause == 0 || have == buffer.size() || !Pause(pause)) break;
    }
    if (have > 0) muxsim::WriteAll(to, std::span<const uint8_t>(buffer.data(), have), kWriteWaitMs);
    return alive;
}

void LineTap::Impl::Describe(std::span<const uint8_t> bytes, muxsim::FrameReader& reader,
                             bool fromDevice) {
    // Byte by byte, so that noise and frames are told in the order they came.
    std::vector<std::string> lines;
    std::size_t noise = 0;
    std::lock_guard lock(mutex);
    auto add = [&lines](std::vector<std::string> more) {
        lines.insert(lines.end(), more.begin(), more.end());
    };
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const std::size_t discarded = reader.Discarded();
        const auto frames = reader.Feed(bytes.subspan(i, 1));
        noise += reader.Discarded() - discarded;
        if (frames.empty()) continue;
        if (noise > 0) add(monitor.Noise(noise, fromDevice));
        noise = 0;
        for (const auto& frame : frames)
            add(fromDevice ? monitor.Reply(frame, Clock::now())
                           : monitor.Request(frame, Clock::now()));
    }
    if (noise > 0) add(monitor.Noise(noise, fromDevice));
    Print(lines);
}

void LineTap::Impl::Relay() {
    for (;;) {
        std::array<pollfd, 3> wait{
            {{master, POLLIN, 0}, {device, POLLIN, 0}, {wake[0], POLLIN, 0}}};
        const int ready = poll(wait.data(), wait.size(), WaitMs());
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0 || wait[2].revents != 0) return;
        if (ready == 0) {  // quiet: unfinished frames were noise; a reply may be overdue
            for (auto* reader : {&hostFrames, &deviceFrames}) {
                const std::size_t discarded = reader->Discarded();
                reader->Expire();
                std::lock_guard lock(mutex);
                if (reader->Discarded() != discarded)
                    Print(monitor.Noise(reader->Discarded() - discarded, reader == &deviceFrames));
            }
            std::lock_guard lock(mutex);
            Print(monitor.Tick(Clock::now()));
            continue;
        }
        bool alive = true;
        if (wait[0].revents & POLLIN) alive = Pass(master, device, hostFrames, false) && alive;
        if (wait[1].revents & POLLIN) alive = Pass(device, master, deviceFrames, true) && alive;
        // A hang-up (no driver on the pty yet, an adapter pulled out) is waited out.
        const bool hangUp = ((wait[0].revents | wait[1].revents) & (POLLHUP | POLLERR)) != 0;
        if (!alive || (hangUp && !(wait[0].revents & POLLIN) && !(wait[1].revents & POLLIN))) {
            if (!Pause(hangUpPauseMs)) return;
            hangUpPauseMs = std::min(hangUpPauseMs * 2, kLongestHangUpPauseMs);
        } else {
            hangUpPauseMs = kFirstHangUpPauseMs;
        }
        std::lock_guard lock(mutex);
        Print(monitor.Tick(Clock::now()));
    }
}

bool LineTap::Impl::Pause(int ms) {
    if (ms <= 0) return true;
    pollfd stop{wake[0], POLLIN, 0};
    const int ready = poll(&stop, 1, ms);
    return ready == 0 || (ready < 0 && errno == EINTR);  // a signal only shortens it
}

int LineTap::Impl::FramePauseMs() const {
    const auto bits = static_cast<uint64_t>(deviceFrames.Missing()) * 10;
    const auto ms = static_cast<int>(bits * 1000 / std::max<uint32_t>(baud, 1));
    return std::min(ms, kLongestFramePauseMs);
}

LineTap::LineTap() = default;

LineTap::~LineTap() {
    Stop();
}

bool LineTap::Start(const std::string& devicePath, const LineSettings& line, int timeoutMs,
                    Sink sink, std::string* error) {
    impl_ = std::make_unique<Impl>(timeoutMs, std::move(sink));
    if (impl_->Open(devicePath, line, error)) return true;
    impl_.reset();
    return false;
}

std::string LineTap::PortName() const {
    return impl_ ? impl_->portName : std::string();
}

void LineTap::Stop() {
    if (impl_) impl_->Stop();
}

LineCounts LineTap::Counts(int mux) const {
    if (!impl_) return {};
    std::lock_guard lock(impl_->mutex);
    return impl_->monitor.Counts(mux);
}

}  // namespace roderavo::tool
