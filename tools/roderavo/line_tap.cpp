#include "line_tap.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <span>
#include <thread>

#include <muxsim/raw_line.h>

#include "port.h"
#include "text.h"

namespace roderavo::tool {

namespace {

using Clock = LineMonitor::Clock;

// An unfinished frame after this much quiet was noise (as the simulator takes it).
constexpr int kFrameGapMs = 100;
// How long one relayed write may wait for room before the rest is dropped.
constexpr int kWriteWaitMs = 1000;

bool WriteAll(int fd, std::span<const uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t written = write(fd, bytes.data(), bytes.size());
        if (written > 0) {
            bytes = bytes.subspan(static_cast<std::size_t>(written));
            continue;
        }
        if (written < 0 && errno == EINTR) continue;
        if (written < 0 && errno != EAGAIN) return false;
        pollfd wait{fd, POLLOUT, 0};
        if (poll(&wait, 1, kWriteWaitMs) <= 0) return false;
    }
    return true;
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
    void Print(const std::vector<std::string>& lines);
    int WaitMs();

    std::mutex mutex;  // the monitor
    LineMonitor monitor;
    Sink sink;
    muxsim::FrameReader hostFrames, deviceFrames;
    int device = -1, master = -1, slave = -1;
    int wake[2] = {-1, -1};
    std::string portName;
    std::thread thread;
};

bool LineTap::Impl::Open(const std::string& devicePath, const LineSettings& line,
                         std::string* error) {
    device = open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (device < 0 || flock(device, LOCK_EX | LOCK_NB) != 0 || ioctl(device, TIOCEXCL) != 0) {
        const int why = errno;
        *error = DiagnosePort(devicePath);
        if (error->empty()) *error = "cannot open " + devicePath + ": " + std::strerror(why);
        return false;
    }
    if (!muxsim::SetRawLine(device,
                            {line.baudRate, line.dataBits, line.parity, line.stopBits != 0})) {
        *error = devicePath + " could not be set to the line settings given";
        return false;
    }
    tcflush(device, TCIOFLUSH);
    muxsim::RawPty pty;
    if (!muxsim::OpenRawPty(line.baudRate, &pty) || pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        *error = "no pseudo-terminal for the protocol tap (is /dev/ptmx there?)";
        return false;
    }
    master = pty.master;
    slave = pty.slave;
    portName = pty.path.substr(std::strlen("/dev/"));
    thread = std::thread([this] { Relay(); });
    return true;
}

void LineTap::Impl::Stop() {
    if (thread.joinable()) {
        const char byte = 1;
        [[maybe_unused]] const auto written = write(wake[1], &byte, 1);
        thread.join();
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
    const ssize_t count = read(from, buffer.data(), buffer.size());
    if (count <= 0) return count < 0 && (errno == EAGAIN || errno == EINTR);
    const auto bytes = std::span<const uint8_t>(buffer.data(), static_cast<std::size_t>(count));
    WriteAll(to, bytes);
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
    return true;
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
            pollfd stop{wake[0], POLLIN, 0};
            if (poll(&stop, 1, 20) != 0) return;
        }
        std::lock_guard lock(mutex);
        Print(monitor.Tick(Clock::now()));
    }
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
