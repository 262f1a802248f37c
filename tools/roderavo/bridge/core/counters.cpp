#include "bridge/core/counters.h"

#include <algorithm>

namespace roderavo::tool::bridge {

namespace {

constexpr std::array<std::string_view, kFaceIds> kFaceWords{"mqtt", "modbus", "http"};

std::size_t At(auto value) {
    return static_cast<std::size_t>(value);
}

}  // namespace

std::string_view Word(FaceId face) {
    return kFaceWords[At(face)];
}

std::optional<FaceId> FaceNamed(std::string_view word) {
    const auto found = std::find(kFaceWords.begin(), kFaceWords.end(), word);
    if (found == kFaceWords.end()) return std::nullopt;
    return static_cast<FaceId>(found - kFaceWords.begin());
}

std::string_view Word(Outcome outcome) {
    switch (outcome) {
        case Outcome::kDone:
            return "done";
        case Outcome::kRefused:
            return "refused";
        case Outcome::kNotSent:
            return "not-sent";
        case Outcome::kBusy:
            return "busy";
        case Outcome::kRefusedByMux:
            return "refused-by-mux";
        case Outcome::kLineFailed:
            break;
    }
    return "line-failed";
}

void Counters::CycleTook(std::chrono::duration<double> took) {
    const double seconds = std::max(took.count(), 0.0);
    const auto bucket = std::lower_bound(kCycleBounds.begin(), kCycleBounds.end(), seconds);
    std::lock_guard lock(cyclesMutex_);
    ++cycles_.inBucket[At(bucket - kCycleBounds.begin())];
    cycles_.seconds += seconds;
}

void Counters::CommandEnded(std::string_view face, Outcome outcome) {
    if (const auto id = FaceNamed(face))
        commands_[At(*id)][At(outcome)].fetch_add(1, std::memory_order_relaxed);
}

void Counters::Connections(FaceId face, int count) {
    connections_[At(face)].store(count, std::memory_order_relaxed);
}

CountsSeen Counters::Seen() const {
    CountsSeen seen;
    {
        std::lock_guard lock(cyclesMutex_);
        seen.cycles = cycles_;
    }
    for (std::size_t face = 0; face < kFaceIds; ++face) {
        for (std::size_t outcome = 0; outcome < kOutcomes; ++outcome)
            seen.commands[face][outcome] = commands_[face][outcome].load(std::memory_order_relaxed);
        seen.connections[face] = connections_[face].load(std::memory_order_relaxed);
    }
    return seen;
}

Counters& ProcessCounters() {
    static Counters counters;
    return counters;
}

}  // namespace roderavo::tool::bridge
