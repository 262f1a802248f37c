// The driver's end of a simulator's line, for tests: raw reads and writes on the pty
// slave, every wait bounded.
#pragma once

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "support/frame_bytes.h"
#include "support/pty_peer.h"

namespace muxsim_test {

using roderavo_test::Bytes;
using roderavo_test::Checksum;
using roderavo_test::Framed;
using roderavo_test::Hex;
using Steady = std::chrono::steady_clock;

class DriverEnd {
  public:
    explicit DriverEnd(const std::string& path) {
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) return;
        termios settings{};
        tcgetattr(fd_, &settings);
        cfmakeraw(&settings);
        tcsetattr(fd_, TCSANOW, &settings);
    }
    ~DriverEnd() {
        if (fd_ >= 0) close(fd_);
    }
    DriverEnd(const DriverEnd&) = delete;
    DriverEnd& operator=(const DriverEnd&) = delete;

    bool Open() const { return fd_ >= 0; }

    bool Write(const Bytes& bytes) { return roderavo_test::WriteAll(fd_, bytes); }

    // Exactly count bytes within the time-out, else what arrived.
    Bytes Read(std::size_t count, std::chrono::milliseconds timeout) {
        return roderavo_test::ReadFor(fd_, count, timeout);
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
