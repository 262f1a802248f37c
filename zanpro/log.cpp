// The log: every err line is formatted like printf, kept with its level and
// handed to the host's sink.
#include <cstdarg>
#include <cstdio>
#include <iostream>

#include <zanpro/zanpro.h>

#include "store.h"

namespace zanpro {

namespace {

void DefaultSink(int32_t level, std::string_view text, bool showTraces) {
    if (level <= 8 && !showTraces) return;
    std::cerr << text << '\n';
}

}  // namespace

std::vector<LogLine> Log() {
    auto& s = TheStore();
    std::lock_guard lock(s.mutex);
    return s.log;
}

std::vector<LogLine> TakeLog() {
    auto& s = TheStore();
    std::lock_guard lock(s.mutex);
    std::vector<LogLine> lines;
    lines.swap(s.log);
    return lines;
}

void ClearLog() {
    auto& s = TheStore();
    std::lock_guard lock(s.mutex);
    s.log.clear();
}

void SetLogSink(LogSink sink) {
    auto& s = TheStore();
    std::lock_guard lock(s.mutex);
    s.sink = std::move(sink);
}

void ShowTraces(bool show) {
    auto& s = TheStore();
    std::lock_guard lock(s.mutex);
    s.showTraces = show;
}

void KeepLog(bool keep) {
    auto& s = TheStore();
    std::lock_guard lock(s.mutex);
    s.keepLog = keep;
}

}  // namespace zanpro

extern "C" void err(int32_t level, const char* format, ...) {
    if (format == nullptr) return;
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int size = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text(size > 0 ? static_cast<size_t>(size) : 0, '\0');
    if (size > 0) std::vsnprintf(text.data(), text.size() + 1, format, args);
    va_end(args);

    auto& s = zanpro::TheStore();
    zanpro::LogSink sink;
    bool showTraces = false;
    {
        std::lock_guard lock(s.mutex);
        if (s.keepLog) s.log.push_back({level, text});
        sink = s.sink;
        showTraces = s.showTraces;
    }
    if (sink)
        sink(level, text);
    else
        zanpro::DefaultSink(level, text, showTraces);
}
