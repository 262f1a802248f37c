// The driver's end of a simulator's line, for tests: raw reads and writes on the pty
// slave, every wait bounded.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace muxsim_test {

using Bytes = std::vector<uint8_t>;
using Steady = std::chrono::steady_clock;

// The checksum written out once more on this side: bytes 0xFF are left out of the sum.
inline uint8_t Checksum(const Bytes& frame, std::size_t count) {
    int sum = 0;
    for (std::size_t i = 0; i < count; ++i)
        if (frame[i] != 0xFF) sum += frame[i];
    return static_cast<uint8_t>(-sum & 0xFF);
}

inline std::string HexOf(const Bytes& bytes) {
    std::string text;
    char item[4];
    for (const uint8_t byte : bytes) {
        std::snprintf(item, sizeof item, "%02X ", byte);
        text += item;
    }
    if (!text.empty()) text.pop_back();
    return text;
}

class PtyPeer {
  public:
    explicit PtyPeer(const std::string& path) {
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) return;
        termios settings{};
        tcgetattr(fd_, &settings);
        cfmakeraw(&settings);
        tcsetattr(fd_, TCSANOW, &settings);
    }
    ~PtyPeer() {
        if (fd_ >= 0) close(fd_);
    }
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    bool Open() const { return fd_ >= 0; }

    bool Write(const Bytes& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
            if (n <= 0) return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

    // Exactly count bytes within the time-out, else what arrived.
    Bytes Read(std::size_t count, std::chrono::milliseconds timeout) {
        Bytes bytes;
        const auto deadline = Steady::now() + timeout;
        while (bytes.size() < count) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Steady::now());
            if (left.count() <= 0) break;
            pollfd wait{fd_, POLLIN, 0};
            if (poll(&wait, 1, static_cast<int>(left.count())) <= 0) break;
            uint8_t buffer[256];
            const std::size_t want = std::min(sizeof buffer, count - bytes.size());
            const ssize_t n = read(fd_, buffer, want);
            if (n > 0) bytes.insert(bytes.end(), buffer, buffer + n);
        }
        return bytes;
    }

    // Everything that arrives until the line has been quiet for `quiet`.
    Bytes ReadUntilQuiet(std::chrono::milliseconds quiet) {
        Bytes bytes;
        for (;;) {
            Bytes more = Read(256, quiet);
            if (more.empty()) return bytes;
            bytes.insert(bytes.end(), more.begin(), more.end());
        }
    }

    // Writes the request and reads a reply of the given size.
    Bytes Exchange(const Bytes& request, std::size_t size,
                   std::chrono::milliseconds timeout = std::chrono::milliseconds(2000)) {
        if (!Write(request)) return {};
        return Read(size, timeout);
    }

  private:
    int fd_ = -1;
};

}  // namespace muxsim_test
