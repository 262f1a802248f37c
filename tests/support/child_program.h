// A program the tests start as a child process: stdin is /dev/null, stdout a pipe,
// stderr a pipe, a file or /dev/null. Every wait has a deadline; a child still
// running at the end is killed by its pid.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace roderavo_test {

struct ProgramRun {
    int exitCode = -1;  // -1: killed at the deadline
    std::string out;
    std::string err;
};

// The whole of a file as text; "" when it cannot be read.
std::string ReadFile(const std::string& path);

class ChildProgram {
  public:
    enum class Stderr { Null, Pipe, File };

    ChildProgram(const std::string& program, std::vector<std::string> args,
                 Stderr errors = Stderr::Null);
    ~ChildProgram();
    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;

    bool Started() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }
    // One line of stdout without its line feed, or "" when none came in time.
    std::string ReadLine(std::chrono::milliseconds timeout);
    // Sends the signal (none for 0) and waits for the end: the exit code, 128 + N
    // when signal N ended it, -1 when it still ran at the deadline (it is killed then).
    int Stop(int signal, std::chrono::milliseconds timeout);
    int Wait(std::chrono::milliseconds timeout) { return Stop(0, timeout); }
    // Everything on stdout and a stderr pipe until both close, and the exit code.
    ProgramRun Collect(std::chrono::milliseconds deadline);
    // What is left on stdout until it closes (or the time-out passes).
    std::string Output(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // What the child wrote to its stderr file.
    std::string Errors() const;

  private:
    int Reap(int status);

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string errPath_;
};

}  // namespace roderavo_test
