#include "output/host_log.h"

#include "output/text.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <mutex>

namespace roderavo::tool {

namespace {

struct LogState {
    std::mutex mutex;
    LogOptions options;
    std::FILE* file = nullptr;
    std::vector<zanpro::LogLine> sinceMark;
};

LogState& State() {
    static LogState state;
    return state;
}

// A file line: the local time to the millisecond, the level name and the text.
void WriteFileLine(std::FILE* file, std::string_view level, std::string_view text) {
    std::fprintf(file, "%s %s %.*s %.*s\n", LocalTimeText("%Y-%m-%d").c_str(),
                 LocalTimeMsText().c_str(), static_cast<int>(level.size()), level.data(),
                 static_cast<int>(text.size()), text.data());
    std::fflush(file);
}

void Sink(int32_t level, std::string_view text) {
    auto& s = State();
    std::lock_guard lock(s.mutex);
    if (s.sinceMark.size() < 10000) s.sinceMark.push_back({level, std::string(text)});
    const bool trace = level <= 8;
    if (s.file != nullptr) WriteFileLine(s.file, trace ? "trace" : "event", text);
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
                *error = "cannot write the log file " + options.file + ": " + std::strerror(errno);
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

void ToolLine(std::string_view level, std::string_view text) {
    auto& s = State();
    std::lock_guard lock(s.mutex);
    if (s.file != nullptr) WriteFileLine(s.file, level, text);
    if (s.options.echo) std::cerr << text << '\n';
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
