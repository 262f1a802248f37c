#include "support/pty_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

namespace roderavo_test {

bool WriteAll(int fd, const Bytes& bytes, int waitMs) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + sent, bytes.size() - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EINTR)) return false;
        pollfd room{fd, POLLOUT, 0};
        if (poll(&room, 1, waitMs) <= 0) return false;
    }
    return true;
}

Bytes ReadFor(int fd, std::size_t count, std::chrono::milliseconds timeout) {
    using Steady = std::chrono::steady_clock;
    Bytes got;
    const auto deadline = Steady::now() + timeout;
    while (got.size() < count) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Steady::now());
        if (left.count() <= 0) break;
        pollfd watch{fd, POLLIN, 0};
        if (poll(&watch, 1, static_cast<int>(left.count())) <= 0) break;
        uint8_t chunk[512];
        const ssize_t n = read(fd, chunk, std::min(sizeof chunk, count - got.size()));
        if (n > 0) {
            got.insert(got.end(), chunk, chunk + n);
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            break;
        }
    }
    return got;
}

PtyPeer::PtyPeer() {
    int master = -1;
    int slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return;
    termios line{};
    tcgetattr(slave, &line);
    cfmakeraw(&line);
    tcsetattr(slave, TCSANOW, &line);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    master_ = master;
    slave_ = slave;
    path_ = ttyname(slave);
    portName_ = path_.rfind("/dev/", 0) == 0 ? path_.substr(5) : path_;
}

PtyPeer::~PtyPeer() {
    ReleaseSlave();
    Vanish();
}

bool PtyPeer::WaitQueued(int slaveFd, int count, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        int queued = 0;
        if (ioctl(slaveFd, FIONREAD, &queued) == 0 && queued >= count) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

void PtyPeer::Vanish() {
    if (master_ >= 0) close(master_);
    master_ = -1;
}

void PtyPeer::ReleaseSlave() {
    if (slave_ >= 0) close(slave_);
    slave_ = -1;
}

}  // namespace roderavo_test
