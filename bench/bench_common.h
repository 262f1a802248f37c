// What the benchmarks share: sample statistics, the rows of the summary table, a
// pseudo-terminal with a responder process on its far side, and the host records
// of a driver instance.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include <roderavo/kor.h>

#include "support/host_records.h"

namespace bench {

using Nanos = int64_t;

inline Nanos Now() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<Nanos>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

struct Summary {
    double median = 0;  // in the samples' unit
    double p99 = 0;
    double min = 0;
    std::size_t count = 0;
};

inline Summary Summarise(std::vector<Nanos> samples) {
    Summary s;
    if (samples.empty()) return s;
    std::sort(samples.begin(), samples.end());
    const std::size_t n = samples.size();
    s.count = n;
    s.median =
        n % 2 == 1
            ? static_cast<double>(samples[n / 2])
            : (static_cast<double>(samples[n / 2 - 1]) + static_cast<double>(samples[n / 2])) / 2;
    const std::size_t p99 = (n * 99 + 99) / 100;  // the ceiling of 0.99 n, 1-based
    s.p99 = static_cast<double>(samples[std::min(n, std::max<std::size_t>(p99, 1)) - 1]);
    s.min = static_cast<double>(samples.front());
    return s;
}

// One row of the table that `./run bench` prints: fields separated by '|', the
// line marked so that the runner can pick it out of other output.
inline void Row(std::string_view section, std::string_view name, std::string_view median,
                std::string_view p99, std::string_view reference, std::string_view ratio) {
    std::printf("ROW|%.*s|%.*s|%.*s|%.*s|%.*s|%.*s\n", static_cast<int>(section.size()),
                section.data(), static_cast<int>(name.size()), name.data(),
                static_cast<int>(median.size()), median.data(), static_cast<int>(p99.size()),
                p99.data(), static_cast<int>(reference.size()), reference.data(),
                static_cast<int>(ratio.size()), ratio.data());
    std::fflush(stdout);
}

inline std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// Runs the calling thread, and the threads and processes it starts after this,
// under a real-time policy where the system allows it: on a loaded machine the
// wake-ups of client, responder and simulator then wait for no one else's time
// slice. Everything here sleeps between its steps, so it takes no more CPU than it
// would otherwise. Returns the policy for the report.
inline std::string UseRealtime() {
    sched_param priority{};
    priority.sched_priority = 10;
    if (sched_setscheduler(0, SCHED_FIFO, &priority) == 0) return "SCHED_FIFO";
    return "normal (no real-time policy)";
}

// Marks the start and end of the system calls of interest for strace: a write to
// descriptor -1, which fails at once and shows up with its text.
inline void StraceMark(const char* text) {
    [[maybe_unused]] const long result = syscall(SYS_write, -1, text, std::strlen(text));
}

// A pseudo-terminal whose master side a child process serves: it collects
// requestSize bytes, then writes the reply in one write, and again, until it is
// stopped. The slave stays open here, so that the master never sees a hang-up.
class PtyResponder {
  public:
    PtyResponder(std::size_t requestSize, std::vector<uint8_t> reply) {
        int master = -1;
        if (openpty(&master, &slave_, nullptr, nullptr, nullptr) != 0) return;
        termios raw{};
        tcgetattr(slave_, &raw);
        cfmakeraw(&raw);
        raw.c_cflag |= CLOCAL | CREAD;
        tcsetattr(slave_, TCSANOW, &raw);
        char name[128] = {};
        if (ptsname_r(master, name, sizeof name) != 0) return;
        path_ = name;
        pid_ = fork();
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            close(slave_);
            Serve(master, requestSize, reply);
            _exit(0);
        }
        close(master);
    }
    ~PtyResponder() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        if (slave_ >= 0) close(slave_);
    }
    PtyResponder(const PtyResponder&) = delete;
    PtyResponder& operator=(const PtyResponder&) = delete;

    bool Ok() const { return pid_ > 0 && !path_.empty(); }
    const std::string& Path() const { return path_; }         // "/dev/pts/4"
    std::string PortName() const { return path_.substr(5); }  // "pts/4"

  private:
    static void Serve(int fd, std::size_t requestSize, const std::vector<uint8_t>& reply) {
        std::vector<uint8_t> buffer(256);
        std::size_t got = 0;
        for (;;) {
            pollfd watch{fd, POLLIN, 0};
            if (poll(&watch, 1, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if ((watch.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return;
            const ssize_t count = read(fd, buffer.data(), buffer.size());
            if (count <= 0) {
                if (count < 0 && (errno == EINTR || errno == EAGAIN)) continue;
                return;
            }
            got += static_cast<std::size_t>(count);
            while (got >= requestSize) {
                got -= requestSize;
                const uint8_t* at = reply.data();
                std::size_t left = reply.size();
                while (left > 0) {
                    const ssize_t written = write(fd, at, left);
                    if (written <= 0) return;
                    at += written;
                    left -= static_cast<std::size_t>(written);
                }
            }
        }
    }

    int slave_ = -1;
    pid_t pid_ = -1;
    std::string path_;
};

// The records a host fills in, as the tests fill them.
inline InitParams MakeInit(const std::string& portName, uint16_t baud, int32_t pollInterval) {
    return roderavo_test::MakeInitParams(portName, pollInterval, 1, baud);
}
using roderavo_test::MakeGateParams;

// The driver instance of a benchmark: Init through KorMain, reads, Exit.
class Instance {
  public:
    static constexpr int32_t kInstanceNumber = 1;

    bool Init(const InitParams& params) {
        InitParams copy = params;
        return Call(1, &copy) == 0;
    }
    ~Instance() { Call(11, nullptr); }
    int32_t Read(GateParams& gate) { return Call(5, &gate); }
    int32_t Call(uint32_t function, void* params) {
        return roderavo_test::CallDriver(context_, function, kInstanceNumber, params);
    }
    DriverContext& Context() { return context_; }

  private:
    DriverContext context_{};
};

}  // namespace bench
