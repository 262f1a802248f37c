// The process's own counts, for its metrics: how long the poll's cycles take, how the
// commands of each face ended, and how many clients each face has now. Any thread
// counts (a face's, the poll's, the stop watcher's) and a scrape takes a copy: the
// commands and clients are relaxed atomics, the cycles one short lock.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string_view>

#include "bridge/core/command.h"

namespace roderavo::tool::bridge {

enum class FaceId : uint8_t { kMqtt, kModbus, kHttp };
inline constexpr std::size_t kFaceIds = 3;
inline constexpr std::size_t kOutcomes = 6;

// mqtt, modbus, http: the words of Command::face.
std::string_view Word(FaceId face);
std::optional<FaceId> FaceNamed(std::string_view word);
// done, refused, not-sent, busy, refused-by-mux, line-failed.
std::string_view Word(Outcome outcome);

// The upper bounds of the poll cycle's buckets in seconds, for cycles of a few
// hundredths (one multiplexer, fast) to a minute (every multiplexer timing out); a
// bucket at three times the default interval of one second.
inline constexpr std::array<double, 11> kCycleBounds{0.05, 0.1, 0.25, 0.5, 1, 2, 3, 5, 10, 30, 60};

struct CycleCounts {
    // The cycles in each bucket alone (not cumulative); the last is beyond every bound.
    std::array<uint64_t, kCycleBounds.size() + 1> inBucket{};
    double seconds = 0;  // their sum
};

// A copy of the counts, as a scrape reads them.
struct CountsSeen {
    CycleCounts cycles;
    std::array<std::array<uint64_t, kOutcomes>, kFaceIds> commands{};  // [face][outcome]
    std::array<int, kFaceIds> connections{};                           // mqtt: 1 while connected
};

class Counters {
  public:
    // A poll cycle that read something, and how long it took.
    void CycleTook(std::chrono::duration<double> took);
    // A command of `face` (Command::face) answered; one of no known face is not counted.
    void CommandEnded(std::string_view face, Outcome outcome);
    void Connections(FaceId face, int count);
    CountsSeen Seen() const;

  private:
    mutable std::mutex cyclesMutex_;
    CycleCounts cycles_;
    std::array<std::array<std::atomic<uint64_t>, kOutcomes>, kFaceIds> commands_{};
    std::array<std::atomic<int>, kFaceIds> connections_{};
};

// The process's counters, which the loop and every face count in.
Counters& ProcessCounters();

}  // namespace roderavo::tool::bridge
