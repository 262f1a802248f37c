// Time-outs, queue sizes, line status, reads and writes of a port on POSIX.
//
// Reads follow the total time-out rules of the port's PortTimeouts: poll waits
// for input against a deadline on the monotonic clock, taken when the read
// begins, and the read returns as soon as all asked bytes are there or the
// deadline has passed, with what arrived by then; with both total read fields 0
// the read waits until all asked bytes are there. The interval time-out is not
// taken (the driver bounds each read by its total): setting one fails.
//
// Writes follow the total write time-outs likewise; the descriptor stays
// non-blocking, so that no write can wait past them.
//
// The driver's queue sizes have no POSIX counterpart (the tty layer keeps its own
// buffers): they are accepted and ignored.
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <ctime>

#include "serial/port.h"
#include "serial/posix/port_table.h"
#include "serial/posix/posix_result.h"

namespace roderavo {

namespace {

inline constexpr int64_t kNanosPerMilli = 1000000;

inline constexpr int64_t kNanosPerSecond = 1000000000;

int64_t NowNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * kNanosPerSecond + now.tv_nsec;
}

int64_t NowMs() {
    return NowNs() / kNanosPerMilli;
}

inline constexpr int kInputReady = 1;
inline constexpr int kLineGone = 2;

// Waits up to timeoutMs (negative: without limit) for input or a line event:
// kInputReady, kLineGone (hang-up or error), 0 when nothing came, -1 on failure.
int WaitForInput(int fd, int64_t timeoutMs) {
    const int64_t start = NowMs();
    for (;;) {
        int slice = -1;
        if (timeoutMs >= 0) {
            const int64_t left = std::max<int64_t>(0, timeoutMs - (NowMs() - start));
            slice = static_cast<int>(std::min<int64_t>(left, INT_MAX));
        }
        pollfd watch{fd, POLLIN, 0};
        const int ready = poll(&watch, 1, slice);
        if (ready > 0) {
            if ((watch.revents & POLLNVAL) != 0) {
                errno = EBADF;
                return -1;
            }
            return (watch.revents & (POLLHUP | POLLERR)) != 0 ? kLineGone : kInputReady;
        }
        if (ready < 0 && errno != EINTR) return -1;
        if (ready == 0 && slice >= 0 && NowMs() - start >= timeoutMs) return 0;
    }
}

}  // namespace

SerialResult PortGetTimeouts(PortHandle handle, PortTimeouts* timeouts) {
    posix::OpenPort* port = nullptr;
    const SerialResult line = posix::FindLine(handle, port);
    if (!line) return line;
    if (timeouts == nullptr) return posix::Refused(EINVAL);
    *timeouts = port->timeouts;
    return kSerialOk;
}

SerialResult PortSetTimeouts(PortHandle handle, const PortTimeouts& timeouts) {
    posix::OpenPort* port = nullptr;
    const SerialResult line = posix::FindLine(handle, port);
    if (!line) return line;
    if (timeouts.ReadIntervalTimeout != 0) return posix::Refused(EINVAL);
    port->timeouts = timeouts;
    return kSerialOk;
}

SerialResult PortSetQueueSizes(PortHandle handle, uint32_t, uint32_t) {
    posix::OpenPort* port = nullptr;
    return posix::FindLine(handle, port);
}

SerialResult PortClearErrors(PortHandle handle, uint32_t* inputQueued) {
    posix::OpenPort* port = nullptr;
    const SerialResult line = posix::FindLine(handle, port);
    if (!line) return line;
    if (inputQueued == nullptr) return posix::Refused(EINVAL);
    // A line that has gone (the device removed, the other side of a
    // pseudo-terminal closed) reports no status. Its hang-up completes later than
    // the line goes, so ask poll, which sees it at once; poll also tells whether
    // anything is waiting at all, and only then is the count asked for.
    pollfd watch{port->fd, POLLIN, 0};
    if (poll(&watch, 1, 0) < 0) return posix::SystemFailure();
    if ((watch.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return posix::Refused(EIO);
    int waiting = 0;
    if ((watch.revents & POLLIN) != 0 && ioctl(port->fd, FIONREAD, &waiting) != 0)
        return posix::SystemFailure();
    if (waiting < 0) return posix::Refused(EIO);
    *inputQueued =
        static_cast<uint32_t>(waiting) + static_cast<uint32_t>(port->aheadEnd - port->aheadAt);
    return kSerialOk;
}

namespace {

// Hands out what was read ahead, up to length bytes.
uint32_t TakeAhead(posix::OpenPort& port, uint8_t* buffer, uint32_t length) {
    const auto count =
        static_cast<uint32_t>(std::min<std::size_t>(length, port.aheadEnd - port.aheadAt));
    std::copy_n(port.ahead.begin() + static_cast<std::ptrdiff_t>(port.aheadAt), count, buffer);
    port.aheadAt += count;
    if (port.aheadAt == port.aheadEnd) port.aheadAt = port.aheadEnd = 0;
    return count;
}

// The time the device's next `missing` bytes need after the last one read.
int64_t WireTimeNs(const posix::OpenPort& port, uint32_t missing) {
    return static_cast<int64_t>(missing) * static_cast<int64_t>(port.characterNs);
}

// Sleeps until the given moment (CLOCK_MONOTONIC, ns), at the latest until the
// deadline: on a slow line the rest of a reply is given its wire time in one
// sleep, instead of a wake-up for every byte. The moment is absolute, so that the
// wake-up of one sleep does not move the next.
void SleepUntil(int64_t at, int64_t deadlineNs) {
    const int64_t until = std::min(at, deadlineNs);
    if (until <= NowNs()) return;
    const timespec when{static_cast<time_t>(until / kNanosPerSecond),
                        static_cast<long>(until % kNanosPerSecond)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &when, nullptr) == EINTR) {
    }
}

// One read: what it has so far, its deadline, and the wire time it has given the
// bytes still missing.
struct ReadState {
    posix::OpenPort& port;
    uint8_t* buffer;
    uint32_t length;
    int64_t deadlineNs;
    bool hasTotal;
    bool paced;
    uint32_t got = 0;
    bool readFirst = false;   // the missing bytes were given their wire time: read at once
    int64_t sleptFor = 0;     // where their last one is expected (0: not slept for)
    uint32_t sleptBytes = 0;  // how many they were

    void AwaitRest() {
        sleptBytes = length - got;
        sleptFor = port.flowAtNs + WireTimeNs(port, sleptBytes);
        SleepUntil(sleptFor, deadlineNs);
        readFirst = true;
    }
};

enum class ReadStep { More, Done, Failed };

// Stores what one read(2) brought: straight into the caller's buffer, or through the
// read-ahead buffer; notes when its last byte came (now, or, when the bytes were
// slept for and all came, when the line's speed brought them). Returns now.
int64_t Store(ReadState& r, bool direct, std::size_t count) {
    posix::OpenPort& port = r.port;
    const int64_t now = NowNs();
    port.flowAtNs = now;
    if (r.sleptFor != 0 && static_cast<uint32_t>(count) >= r.sleptBytes)
        port.flowAtNs = std::min(
            now, r.sleptFor + WireTimeNs(port, static_cast<uint32_t>(count) - r.sleptBytes));
    r.sleptFor = 0;
    if (direct) {
        r.got += static_cast<uint32_t>(count);
    } else {
        port.aheadAt = 0;
        port.aheadEnd = count;
        r.got += TakeAhead(port, r.buffer + r.got, r.length - r.got);
    }
    return now;
}

// Reads whatever has arrived. Large reads (the drain's) go straight to the caller;
// small ones take what has arrived into the read-ahead buffer.
ReadStep ReadArrived(ReadState& r, int ready, bool polled) {
    posix::OpenPort& port = r.port;
    const bool direct = r.length - r.got >= port.ahead.size();
    uint8_t* into = direct ? r.buffer + r.got : port.ahead.data();
    const std::size_t room = direct ? r.length - r.got : port.ahead.size();
    const ssize_t count = read(port.fd, into, room);
    if (count < 0) return errno == EINTR || errno == EAGAIN ? ReadStep::More : ReadStep::Failed;
    // Nothing: a raw tty read without a wait finds nothing yet (it returns 0, not
    // EAGAIN); after a wait it is the end of input, on a line that has gone a
    // failure, else (the null device) a read that found nothing.
    if (count == 0) {
        if (ready == kLineGone) {
            errno = EIO;  // the line hung up
            return ReadStep::Failed;
        }
        return !polled && !port.isNull ? ReadStep::More : ReadStep::Done;
    }
    const int64_t now = Store(r, direct, static_cast<std::size_t>(count));
    if (static_cast<std::size_t>(count) == room) {
        r.readFirst = true;  // more may be waiting already
    } else if (r.got < r.length && r.paced && now < r.deadlineNs) {
        r.AwaitRest();
    }
    return ReadStep::More;
}

}  // namespace

// A read hands out first what an earlier read took ahead, then reads whatever has
// arrived (up to the read-ahead buffer) in one call: an instant reply is taken
// with one poll and one read, and its rest is already here when asked for. On a
// paced line a reply that is coming in is given the wire time of the bytes still
// missing, counted from the last byte that came, before it is read again.
SerialResult PortRead(PortHandle handle, uint8_t* buffer, uint32_t length, uint32_t* received) {
    posix::OpenPort* port = posix::FindPort(handle);
    if (port == nullptr) return posix::Refused(EBADF);
    if (received == nullptr || (buffer == nullptr && length != 0)) return posix::Refused(EINVAL);
    const PortTimeouts& t = port->timeouts;
    const int64_t total = static_cast<int64_t>(t.ReadTotalTimeoutMultiplier) * length +
                          static_cast<int64_t>(t.ReadTotalTimeoutConstant);
    const int64_t startNs = NowNs();
    const int64_t deadline = startNs / kNanosPerMilli + total;
    ReadState r{*port,     buffer,
                length,    startNs + total * kNanosPerMilli,
                total > 0, total > 0 && port->characterNs != 0};

    r.got = TakeAhead(*port, buffer, length);
    *received = r.got;
    // The rest of a reply whose bytes are still coming in: the last one came less
    // than two character times ago.
    if (r.got < length && r.paced && port->flowAtNs != 0 &&
        startNs - port->flowAtNs < WireTimeNs(*port, 2))
        r.AwaitRest();
    while (r.got < length) {
        int ready = kInputReady;
        const bool polled = !r.readFirst;
        if (polled) {
            ready =
                WaitForInput(port->fd, r.hasTotal ? std::max<int64_t>(0, deadline - NowMs()) : -1);
            if (ready < 0) return posix::SystemFailure();
            if (ready == 0) break;  // the time-out passed
            r.sleptFor = 0;
        }
        r.readFirst = false;
        const ReadStep step = ReadArrived(r, ready, polled);
        *received = r.got;
        if (step == ReadStep::Failed) return posix::SystemFailure();
        if (step == ReadStep::Done) break;
    }
    return kSerialOk;
}

SerialResult PortWrite(PortHandle handle, const uint8_t* buffer, uint32_t length,
                       uint32_t* written) {
    posix::OpenPort* port = posix::FindPort(handle);
    if (port == nullptr) return posix::Refused(EBADF);
    if (written == nullptr || (buffer == nullptr && length != 0)) return posix::Refused(EINVAL);
    *written = 0;
    port->flowAtNs = 0;  // what comes next is a new reply
    // The write time-outs bound the whole write, as they do on Win32: when the
    // far side stops taking bytes, the write returns with what went out by then.
    const PortTimeouts& t = port->timeouts;
    const int64_t total = static_cast<int64_t>(t.WriteTotalTimeoutMultiplier) * length +
                          static_cast<int64_t>(t.WriteTotalTimeoutConstant);
    const int64_t deadline = NowMs() + total;
    uint32_t sent = 0;
    while (sent < length) {
        const ssize_t count = write(port->fd, buffer + sent, length - sent);
        if (count > 0) {
            sent += static_cast<uint32_t>(count);
            *written = sent;
            continue;
        }
        if (count == 0) break;
        if (errno == EINTR) continue;
        if (errno != EAGAIN) return posix::SystemFailure();
        const int64_t left = total > 0 ? deadline - NowMs() : -1;
        if (total > 0 && left <= 0) break;
        pollfd watch{port->fd, POLLOUT, 0};
        const int ready = poll(&watch, 1, static_cast<int>(std::min<int64_t>(left, INT_MAX)));
        if (ready < 0 && errno != EINTR) return posix::SystemFailure();
        if (ready > 0 && (watch.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0)
            return posix::Refused((watch.revents & POLLNVAL) != 0 ? EBADF : EIO);
    }
    return kSerialOk;
}

}  // namespace roderavo
