// A null-modem cable between two pseudo-terminals, for the Windows programs under
// wine: each slave side is mapped to a COM port, and what one port writes the
// other reads. Prints the two slave paths on one line once the cable is up, then
// carries bytes until it is stopped (SIGTERM).
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>

namespace {

struct End {
    int master = -1;
    int slave = -1;  // held open, so the master side never sees the line hang up
    std::array<char, 64> path{};
};

bool OpenEnd(End& end) {
    if (openpty(&end.master, &end.slave, nullptr, nullptr, nullptr) != 0) return false;
    termios line{};
    if (tcgetattr(end.slave, &line) != 0) return false;
    cfmakeraw(&line);
    if (tcsetattr(end.slave, TCSANOW, &line) != 0) return false;
    return ttyname_r(end.slave, end.path.data(), end.path.size()) == 0;
}

bool Carry(int from, int to) {
    std::array<unsigned char, 512> buffer{};
    const ssize_t n = read(from, buffer.data(), buffer.size());
    if (n < 0) return errno == EINTR || errno == EAGAIN;
    for (ssize_t done = 0; done < n;) {
        const ssize_t w = write(to, buffer.data() + done, static_cast<size_t>(n - done));
        if (w < 0 && errno != EINTR) return false;
        if (w > 0) done += w;
    }
    return true;
}

}  // namespace

int main() {
    End a, b;
    if (!OpenEnd(a) || !OpenEnd(b)) {
        std::perror("null_modem: openpty");
        return 1;
    }
    std::printf("%s %s\n", a.path.data(), b.path.data());
    std::fflush(stdout);
    for (;;) {
        std::array<pollfd, 2> watch{{{a.master, POLLIN, 0}, {b.master, POLLIN, 0}}};
        if (poll(watch.data(), watch.size(), -1) < 0) {
            if (errno == EINTR) continue;
            return 1;
        }
        if ((watch[0].revents & POLLIN) != 0 && !Carry(a.master, b.master)) return 1;
        if ((watch[1].revents & POLLIN) != 0 && !Carry(b.master, a.master)) return 1;
    }
}
