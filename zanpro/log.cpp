// The log: every err line is formatted like printf into a fixed buffer, kept with
// its level in a bounded ring and handed to the host's sink.
#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <iostream>

#include <zanpro/zanpro.h>

#include "store.h"

namespace zanpro {

namespace {

// Lines up to this length are formatted without allocating; longer ones are kept
// whole all the same.
constexpr std::size_t kLineBuffer = 1024;

void DefaultSink(int32_t level, std::string_view text, bool showTraces) {
    if (level <= 8 && !showTraces) return;
    std::cerr << text << '\n';
}

}  // namespace

void LogRing::Push(int32_t level, std::string_view text) {
    if (capacity_ == 0) return;
    if (slots_.empty()) {
        cells_.assign(capacity_ * kCellText, '\0');
        slots_.resize(capacity_);
    }
    std::size_t at = 0;
    if (count_ < capacity_) {
        at = (start_ + count_) % capacity_;
        ++count_;
    } else {
        at = start_;
        start_ = (start_ + 1) % capacity_;
    }
    Slot& slot = slots_[at];
    slot.level = level;
    if (text.size() <= kCellText) {
        std::copy(text.begin(), text.end(),
                  cells_.begin() + static_cast<std::ptrdiff_t>(at * kCellText));
        slot.size = text.size();
    } else {
        slot.longer.assign(text);
        slot.size = std::string::npos;
    }
}

LogLine LogRing::LineAt(std::size_t at) const {
    const Slot& slot = slots_[at];
    if (slot.size == std::string::npos) return {slot.level, slot.longer};
    return {slot.level, std::string(cells_.data() + at * kCellText, slot.size)};
}

std::vector<LogLine> LogRing::Lines() const {
    std::vector<LogLine> lines;
    lines.reserve(count_);
    for (std::size_t i = 0; i < count_; ++i) lines.push_back(LineAt((start_ + i) % capacity_));
    return lines;
}

void LogRing::Clear() {
    start_ = 0;
    count_ = 0;
}

// The newest lines that fit stay.
void LogRing::SetCapacity(std::size_t lines) {
    std::vector<LogLine> kept = Lines();
    if (kept.size() > lines)
        kept.erase(kept.begin(), kept.end() - static_cast<std::ptrdiff_t>(lines));
    cells_ = {};
    slots_ = {};
    start_ = 0;
    count_ = 0;
    capacity_ = lines;
    for (const LogLine& line : kept) Push(line.level, line.text);
}

std::vector<LogLine> Log() {
    auto& s = TheStore();
    std::lock_guard lock(s.mutex);
    return s.log.Lines();
}

std::vector<LogLine> TakeLog() {
    auto& s = TheStore();
    std::lock_guard lock(s.mutex);
    std::vector<LogLine> lines = s.log.Lines();
    s.log.Clear();
    return lines;
}

void ClearLog() {
    auto& s = TheStore();
    std::lock_guard lock(s.mutex);
    s.log.Clear();
}

void SetLogCapacity(std::size_t lines) {
    auto& s = TheStore();
    std::lock_guard lock(s.mutex);
    s.log.SetCapacity(lines);
}

std::size_t LogCapacity() {
    auto& s = TheStore();
    std::lock_guard lock(s.mutex);
    return s.log.Capacity();
}

void SetLogSink(LogSink sink) {
    auto& s = TheStore();
    std::lock_guard lock(s.mutex);
    s.sink = sink ? std::make_shared<const LogSink>(std::move(sink)) : nullptr;
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
    std::array<char, zanpro::kLineBuffer> buffer;
    std::string longLine;
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int size = std::vsnprintf(buffer.data(), buffer.size(), format, copy);
    va_end(copy);
    std::string_view text;
    if (size > 0 && static_cast<std::size_t>(size) < buffer.size()) {
        text = std::string_view(buffer.data(), static_cast<std::size_t>(size));
    } else if (size > 0) {
        longLine.resize(static_cast<std::size_t>(size));
        std::vsnprintf(longLine.data(), longLine.size() + 1, format, args);
        text = longLine;
    }
    va_end(args);

    auto& s = zanpro::TheStore();
    std::shared_ptr<const zanpro::LogSink> sink;
    bool showTraces = false;
    {
        std::lock_guard lock(s.mutex);
        if (s.keepLog) s.log.Push(level, text);
        sink = s.sink;
        showTraces = s.showTraces;
    }
    if (sink)
        (*sink)(level, text);
    else
        zanpro::DefaultSink(level, text, showTraces);
}
