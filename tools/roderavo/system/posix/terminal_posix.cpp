#include "system/terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <mutex>
#include <string>

namespace roderavo::tool {

namespace {

volatile sig_atomic_t gResize = 0;
volatile sig_atomic_t gScreenTaken = 0;
volatile sig_atomic_t gKeys = 0;  // stdin is a terminal in key mode
termios gSavedTermios{};

// The stop's bell: a pipe that a stop makes readable for good, so that a thread waits
// for a stop in poll() instead of waking now and then to look. The handler writes to
// it, which is async-signal-safe.
std::atomic<int> gBellRead{-1};
std::atomic<int> gBellWrite{-1};
std::once_flag gBellMade;

void MakeBell() {
    std::call_once(gBellMade, [] {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return;
        gBellRead = ends[0];
        gBellWrite = ends[1];
    });
}

void RingBell() {
    const int bell = gBellWrite;
    if (bell < 0) return;
    const char one = 1;
    const ssize_t ignored = write(bell, &one, 1);  // a full pipe rings already
    (void)ignored;
}

constexpr char kEnter[] = "\x1b[?1049h\x1b[?25l\x1b[H\x1b[2J";
constexpr char kLeave[] = "\x1b[0m\x1b[?25h\x1b[?1049l";

void WriteAll(const char* text, std::size_t size) {
    while (size > 0) {
        const ssize_t n = write(STDOUT_FILENO, text, size);
        if (n <= 0) return;
        text += n;
        size -= static_cast<std::size_t>(n);
    }
}

void RestoreTerminal() {
    WriteAll(kLeave, sizeof kLeave - 1);
    if (gKeys != 0) tcsetattr(STDIN_FILENO, TCSANOW, &gSavedTermios);
}

void OnStop(int signal) {
    if (signal == SIGINT && stop::requested != 0 &&
        (gScreenTaken != 0 || stop::exitOnSecond != 0)) {
        // The user insists: the driver may be waiting on a dead line.
        if (gScreenTaken != 0) RestoreTerminal();
        if (void (*putBack)() = stop::beforeQuickEnd) putBack();
        if (const char* note = stop::secondNote) {
            const ssize_t ignored = write(STDERR_FILENO, note, std::strlen(note));
            (void)ignored;
        }
        _exit(130);
    }
    stop::requested = 1;
    RingBell();
}

void OnResize(int) {
    gResize = 1;
}

}  // namespace

void RequestStop() {
    MakeBell();
    stop::requested = 1;
    RingBell();
}

bool WaitForStop(std::chrono::steady_clock::time_point until) {
    MakeBell();
    for (;;) {
        if (StopRequested()) return true;
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now())
                .count();
        if (left <= 0) return false;
        pollfd bell{gBellRead, POLLIN, 0};
        if (poll(&bell, 1, static_cast<int>(std::min<long long>(left, INT_MAX))) > 0 &&
            !StopRequested()) {
            char drained[64];  // rung, but the request was taken back: quiet it again
            while (read(gBellRead, drained, sizeof drained) > 0) {
            }
        }
    }
}

void InstallStopSignals() {
    MakeBell();
    struct sigaction action {};
    action.sa_handler = OnStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    struct sigaction resize {};
    resize.sa_handler = OnResize;
    sigemptyset(&resize.sa_mask);
    sigaction(SIGWINCH, &resize, nullptr);
    signal(SIGPIPE, SIG_IGN);  // a closed pipe shows as a failed write, and polling stops
}

bool ResizeRequested() {
    const bool resize = gResize != 0;
    gResize = 0;
    return resize;
}

bool LiveScreen::Possible() {
    return isatty(STDOUT_FILENO) != 0;
}

bool LiveScreen::Enter() {
    if (!Possible()) return false;
    // Keys are read only from a terminal; without one the view still runs.
    gKeys = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &gSavedTermios) == 0;
    if (gKeys) {
        termios raw = gSavedTermios;
        raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        raw.c_cc[VMIN] = 0;
        raw.c_cc[VTIME] = 0;
        tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    }
    WriteAll(kEnter, sizeof kEnter - 1);
    active_ = true;
    gScreenTaken = 1;
    return true;
}

void LiveScreen::Leave() {
    if (!active_) return;
    gScreenTaken = 0;
    RestoreTerminal();
    active_ = false;
}

void LiveScreen::Draw(const std::vector<std::string>& lines) {
    winsize size{};
    const bool known = ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0;
    std::string frame = "\x1b[H";
    std::size_t row = 0;
    for (const auto& line : lines) {
        // A line longer than the terminal would wrap and tear the picture.
        if (known && ++row >= size.ws_row) break;
        frame += (known ? CutToWidth(line, size.ws_col) : line) + "\x1b[K\r\n";
    }
    frame += "\x1b[J";
    WriteAll(frame.data(), frame.size());
}

bool LiveScreen::WaitForQuitKey(int ms) {
    if (gKeys == 0) {
        SleepUnlessStopped(ms);
        return false;
    }
    pollfd fd{STDIN_FILENO, POLLIN, 0};
    if (poll(&fd, 1, ms) <= 0) return false;
    char keys[16];
    const ssize_t n = read(STDIN_FILENO, keys, sizeof keys);
    for (ssize_t i = 0; i < n; ++i)
        if (keys[i] == 'q' || keys[i] == 'Q' || keys[i] == 0x1b) return true;
    return false;
}

}  // namespace roderavo::tool
