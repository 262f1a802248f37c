#include "support/other_program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace roderavo_test {

OtherProgram::OtherProgram(const std::string& device, bool exclusive) {
    int ready[2];
    int stop[2];
    if (pipe(ready) != 0) return;
    if (pipe(stop) != 0) {
        close(ready[0]);
        close(ready[1]);
        return;
    }
    pid_ = fork();
    if (pid_ == 0) {  // only async-signal-safe calls from here
        close(ready[0]);
        close(stop[1]);
        char state = 'x';
        int fd = -1;
        if (!device.empty()) {
            fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            state = fd >= 0 && (!exclusive || ioctl(fd, TIOCEXCL) == 0) ? 'y' : 'n';
        }
        for (int other = 3; other < 1024; ++other)
            if (other != fd && other != ready[1] && other != stop[0]) close(other);
        if (write(ready[1], &state, 1) != 1) _exit(1);
        char byte = 0;
        while (read(stop[0], &byte, 1) > 0) {
        }
        _exit(0);
    }
    close(ready[1]);
    close(stop[0]);
    stop_ = stop[1];
    pollfd wait{ready[0], POLLIN, 0};
    char state = 'n';
    if (pid_ > 0 && poll(&wait, 1, 5000) == 1 && read(ready[0], &state, 1) == 1)
        ready_ = state != 'n';
    close(ready[0]);
}

void OtherProgram::Stop() {
    if (stop_ >= 0) close(stop_);
    stop_ = -1;
    if (pid_ <= 0) return;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (waitpid(pid_, nullptr, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    pid_ = -1;
}

std::string LockFileOf(const std::string& devicePath) {
    std::string name = devicePath.rfind("/dev/", 0) == 0 ? devicePath.substr(5) : devicePath;
    for (char& c : name)
        if (c == '/') c = '_';
    return LockFolder() + "/LCK.." + name;
}

std::string LockFolder() {
    const char* moved = std::getenv("RODERAVO_LOCK_DIR");
    return moved != nullptr && moved[0] == '/' ? moved : "/var/lock";
}

bool LockDirectoryWritable() {
    return access(LockFolder().c_str(), W_OK) == 0;
}

std::string HdbPid(long pid) {
    char text[16];
    std::snprintf(text, sizeof text, "%10ld\n", pid);
    return text;
}

bool WriteText(const std::string& path, const std::string& text) {
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) return false;
    const bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && ok;
}

bool Exists(const std::string& path) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0;
}

int ExclusiveFlag(const std::string& devicePath) {
    const int fd = open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return -1;
    int exclusive = -1;
    if (ioctl(fd, TIOCGEXCL, &exclusive) != 0) exclusive = -1;
    close(fd);
    return exclusive;
}

pid_t EndedPid() {
    OtherProgram gone("", false);
    const pid_t pid = gone.Pid();
    gone.Stop();
    return pid;
}

Zombie::Zombie() {
    pid_ = fork();
    if (pid_ == 0) _exit(0);
    siginfo_t info{};
    if (pid_ > 0) waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT);  // not reaped
}

Zombie::~Zombie() {
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
}

}  // namespace roderavo_test
