#include "host_log.h"

#include <cstdio>
#include <iostream>
#include <mutex>

namespace roderavo::tool {

namespace {

#if defined(_WIN32) && !defined(_GLIBCXX_HAS_GTHREADS)
// The win32 thread model has no std::mutex; on Windows no simulator thread logs,
// so the host's one thread needs no lock.
struct LogMutex {
    void lock() {}
    void unlock() {}
};
#else
using LogMutex = std::mutex;
#endif

struct LogState {
    LogMutex mutex;
    LogOptions options;
    std::FILE* file = nullptr;
    std::vector<zanpro::LogLine> sinceMark;
};

LogState& State() {
    static LogState state;
    return state;
}

void Sink(int32_t level, std::string_view text) {
    auto& s = State();
    std::lock_guard lock(s.mutex);
    if (s.sinceMark.size() < 10000) s.sinceMark.push_back({level, std::string(text)});
    const bool trace = level <= 8;
    if (s.file != nullptr) {
        std::fprintf(s.file, "%s %.*s\n", trace ? "trace" : "event", static_cast<int>(text.size()),
                     text.data());
        std::fflush(s.file);
    }
    if (s.options.echo && (!trace || s.options.verbose)) std::cerr << text << '\n';
}

}  // namespace

bool InstallHostLog(const LogOptions& options, std::string* error) {
    auto& s = State();
    {
        std::lock_guard lock(s.mutex);
        s.options = options;
        if (!options.file.empty()) {
            s.file = std::fopen(options.file.c_str(), "a");
            if (s.file == nullptr) {
                *error = "cannot write the log file " + options.file;
                return false;
            }
        }
    }
    zanpro::KeepLog(false);
    zanpro::SetLogSink(Sink);
    return true;
}

void SetLogEcho(bool echo) {
    auto& s = State();
    std::lock_guard lock(s.mutex);
    s.options.echo = echo;
}

void MarkLog() {
    auto& s = State();
    std::lock_guard lock(s.mutex);
    s.sinceMark.clear();
}

std::vector<zanpro::LogLine> LinesSinceMark() {
    auto& s = State();
    std::lock_guard lock(s.mutex);
    return s.sinceMark;
}

std::string LastEventSinceMark() {
    auto& s = State();
    std::lock_guard lock(s.mutex);
    for (auto it = s.sinceMark.rbegin(); it != s.sinceMark.rend(); ++it)
        if (it->level > 8) return it->text;
    return {};
}

}  // namespace roderavo::tool
