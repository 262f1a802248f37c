#include "raw_line.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <utility>

namespace muxsim {

bool SetCustomBaud(int fd, uint32_t baud);  // raw_line_custom_baud.cpp

namespace {

speed_t FixedSpeed(uint32_t baud) {
    constexpr std::array<std::pair<uint32_t, speed_t>, 10> kSpeeds{{{300, B300},
                                                                    {600, B600},
                                                                    {1200, B1200},
                                                                    {2400, B2400},
                                                                    {4800, B4800},
                                                                    {9600, B9600},
                                                                    {19200, B19200},
                                                                    {38400, B38400},
                                                                    {57600, B57600},
                                                                    {115200, B115200}}};
    for (const auto& [rate, speed] : kSpeeds)
        if (rate == baud) return speed;
    return B0;
}

tcflag_t DataBits(uint16_t bits) {
    switch (bits) {
        case 5:
            return CS5;
        case 6:
            return CS6;
        case 7:
            return CS7;
        default:
            return CS8;
    }
}

}  // namespace

bool SetRawLine(int fd, const LineFraming& framing) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return false;
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
    tio.c_cflag |= DataBits(framing.dataBits);
    if (framing.twoStopBits) tio.c_cflag |= CSTOPB;
    // none, odd, even, mark, space
    constexpr std::array<tcflag_t, 5> kParity{0, PARENB | PARODD, PARENB, PARENB | PARODD | CMSPAR,
                                              PARENB | CMSPAR};
    tio.c_cflag |= kParity[std::min<std::size_t>(framing.parity, 4)];
    const speed_t speed = FixedSpeed(framing.baud);
    if (speed != B0) cfsetspeed(&tio, speed);
    if (tcsetattr(fd, TCSANOW, &tio) != 0) return false;
    return speed != B0 || SetCustomBaud(fd, framing.baud);
}

bool OpenRawPty(uint32_t baud, RawPty* pty) {
    int master = -1;
    int slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return false;
    std::array<char, 128> name{};
    LineFraming framing;
    framing.baud = baud;
    SetRawLine(slave, framing);  // a pty takes any framing; its speed means nothing
    if (ptsname_r(master, name.data(), name.size()) != 0) {
        close(master);
        close(slave);
        return false;
    }
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    *pty = RawPty{master, slave, name.data()};
    return true;
}

bool WriteAll(int fd, std::span<const uint8_t> bytes, int waitMs, int wakeFd) {
    while (!bytes.empty()) {
        const ssize_t written = write(fd, bytes.data(), bytes.size());
        if (written > 0) {
            bytes = bytes.subspan(static_cast<std::size_t>(written));
            continue;
        }
        if (written < 0 && errno == EINTR) continue;
        if (written < 0 && errno != EAGAIN) return false;
        std::array<pollfd, 2> wait{{{fd, POLLOUT, 0}, {wakeFd, POLLIN, 0}}};
        if (poll(wait.data(), wakeFd >= 0 ? 2 : 1, waitMs) <= 0 || wait[1].revents != 0)
            return false;
    }
    return true;
}

}  // namespace muxsim
