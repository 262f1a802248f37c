#include "run_tool.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

namespace {

// The tool in a child process: stdin is /dev/null opened with nullFlags, stdout goes
// to out, stderr to err (to /dev/null when err is -1).
pid_t SpawnTool(const std::vector<std::string>& args, int nullFlags, int out, int err) {
    std::vector<std::string> argv = {RODERAVO_TOOL};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (auto& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", nullFlags);
        dup2(null, STDIN_FILENO);
        dup2(out, STDOUT_FILENO);
        dup2(err >= 0 ? err : null, STDERR_FILENO);
        execv(cargv[0], cargv.data());
        _exit(127);
    }
    return pid;
}

}  // namespace

ToolRun RunTool(const std::vector<std::string>& args, std::chrono::milliseconds deadline) {
    ToolRun run;
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) return run;
    const pid_t pid = SpawnTool(args, O_RDONLY, outPipe[1], errPipe[1]);
    close(outPipe[1]);
    close(errPipe[1]);
    const auto end = std::chrono::steady_clock::now() + deadline;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&run.out, &run.err};
    int open = 2;
    bool killed = false;
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              end - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            kill(pid, SIGKILL);
            killed = true;
            break;
        }
        if (poll(fds, 2, static_cast<int>(left)) <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP)) == 0) continue;
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (auto& fd : fds)
        if (fd.fd >= 0) close(fd.fd);
    int status = 0;
    waitpid(pid, &status, 0);
    run.exitCode = !killed && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

bool WaitUntil(const std::function<bool()>& probe, std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (std::chrono::steady_clock::now() < end) {
        if (probe()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return probe();
}

BackgroundTool StartTool(const std::vector<std::string>& args) {
    BackgroundTool tool;
    int outPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0) return tool;
    const pid_t pid = SpawnTool(args, O_RDWR, outPipe[1], -1);
    close(outPipe[1]);
    tool.pid = pid;
    tool.out = outPipe[0];
    return tool;
}

std::string ReadLine(const BackgroundTool& tool, std::chrono::milliseconds deadline) {
    std::string line;
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (std::chrono::steady_clock::now() < end) {
        pollfd fd{tool.out, POLLIN, 0};
        if (poll(&fd, 1, 50) <= 0) continue;
        char c = 0;
        if (read(tool.out, &c, 1) != 1) break;
        if (c == '\n') return line;
        line += c;
    }
    return {};
}

int StopTool(BackgroundTool& tool, std::chrono::milliseconds deadline) {
    if (tool.pid <= 0) return -1;
    kill(tool.pid, SIGTERM);
    int status = 0;
    const bool ended =
        WaitUntil([&] { return waitpid(tool.pid, &status, WNOHANG) == tool.pid; }, deadline);
    if (!ended) {
        kill(tool.pid, SIGKILL);
        waitpid(tool.pid, &status, 0);
    }
    close(tool.out);
    tool.pid = -1;
    return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
