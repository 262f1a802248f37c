#include "support/child_program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace roderavo_test {

namespace {

using Steady = std::chrono::steady_clock;

int MsLeft(Steady::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Steady::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Up to size bytes from fd, waiting until the deadline: 0 at the end of the stream or
// at the deadline.
ssize_t ReadBefore(int fd, Steady::time_point deadline, char* buffer, std::size_t size) {
    pollfd wait{fd, POLLIN, 0};
    const int left = MsLeft(deadline);
    if (fd < 0 || left <= 0 || poll(&wait, 1, left) <= 0) return 0;
    return read(fd, buffer, size);
}

}  // namespace

ChildProgram::ChildProgram(const std::string& program, std::vector<std::string> args,
                           Stderr errors) {
    int out[2];
    int err[2] = {-1, -1};
    if (pipe2(out, O_CLOEXEC) != 0) return;
    if (errors == Stderr::Pipe && pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    if (errors == Stderr::Pipe) {
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    } else if (errors == Stderr::File) {
        std::string path =
            (std::filesystem::temp_directory_path() / "roderavo_test_XXXXXX").string();
        const int fd = mkstemp(path.data());
        if (fd >= 0) {
            close(fd);
            errPath_ = path;
        }
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO,
                                         errPath_.empty() ? "/dev/null" : errPath_.c_str(),
                                         O_WRONLY | O_TRUNC, 0);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    }
    args.insert(args.begin(), program);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0)
        pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    out_ = out[0];
    if (err[1] >= 0) close(err[1]);
    err_ = err[0];
}

ChildProgram::~ChildProgram() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
    if (err_ >= 0) close(err_);
    if (!errPath_.empty()) unlink(errPath_.c_str());
}

std::string ChildProgram::ReadLine(std::chrono::milliseconds timeout) {
    std::string line;
    const auto deadline = Steady::now() + timeout;
    char c = 0;
    while (ReadBefore(out_, deadline, &c, 1) == 1) {
        if (c == '\n') return line;
        line += c;
    }
    return {};
}

int ChildProgram::Reap(int status) {
    pid_ = -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

int ChildProgram::Stop(int signal, std::chrono::milliseconds timeout) {
    if (pid_ <= 0) return -1;
    if (signal != 0) kill(pid_, signal);
    const auto deadline = Steady::now() + timeout;
    for (;;) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) return Reap(status);
        if (MsLeft(deadline) <= 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
    return -1;
}

ProgramRun ChildProgram::Collect(std::chrono::milliseconds deadline) {
    ProgramRun run;
    const auto end = Steady::now() + deadline;
    pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    std::string* sinks[2] = {&run.out, &run.err};
    int open = (out_ >= 0) + (err_ >= 0);
    bool late = false;
    while (open > 0) {
        const int left = MsLeft(end);
        if (left <= 0) {
            late = true;
            break;
        }
        if (poll(fds, 2, left) <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP)) == 0) continue;
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else {
                fds[i].fd = -1;
                --open;
            }
        }
    }
    if (late) {
        Stop(SIGKILL, std::chrono::seconds(10));
        run.exitCode = -1;
    } else {
        run.exitCode = Wait(std::chrono::milliseconds(std::max(MsLeft(end), 10000)));
    }
    return run;
}

std::string ChildProgram::Output(std::chrono::milliseconds timeout) {
    std::string text;
    const auto deadline = Steady::now() + timeout;
    char buffer[4096];
    ssize_t n = 0;
    while ((n = ReadBefore(out_, deadline, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(n));
    return text;
}

std::string ChildProgram::Errors() const {
    return ReadFile(errPath_);
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

}  // namespace roderavo_test
