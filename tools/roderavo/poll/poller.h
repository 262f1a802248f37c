// The polling of the multiplexers on one line, in scan classes: the alarm and
// video-loss states (AAS, VLS) of each every cycle, its clock (TAD) every
// clockEvery and at once after a write to it, its version (VER) at the start, when
// it answers again after failing, and every versionEvery. Demotion of a multiplexer
// that keeps failing (polled only every few seconds, with one gate, so it does not
// hold up the others), and the statistics of the run.
// The gate reads come through a function, so the logic runs without a line.
#pragma once
#define RODERAVO_TREE_POLLER_H 1  // the tree's own copy, as the layer probes ask

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "address/camera_range.h"
#include "line/line_monitor.h"

namespace roderavo::tool {

using PollClock = std::chrono::steady_clock;
inline constexpr std::chrono::milliseconds kIdleRest{10};
inline constexpr std::chrono::milliseconds kLeastStaleAfter{1000};

enum class PollGate { Version, Clock, Alarms, VideoLoss };

struct GateOutcome {
    int32_t status = 0;  // the driver's result
    bool malformed = false;
    std::string text;                                              // VER, TAD
    std::array<std::optional<uint8_t>, kCamerasPerMux> cameras{};  // AAS, VLS: the companion values
    std::string logLine;
};

using GateReader = std::function<GateOutcome(int mux, PollGate gate)>;

// Stale: it answered, but its last good read is older than two cycles.
enum class MuxState { Waiting, Ok, Stale, Failing, Demoted };

struct MuxView {
    int mux = 0;
    MuxState state = MuxState::Waiting;
    std::string version;
    std::string clock;
    std::array<std::optional<uint8_t>, kCamerasPerMux>
        alarm{};  // camera states (0, 0x20, 0x2E, 0xFE)
    std::array<std::optional<uint8_t>, kCamerasPerMux> videoLoss{};  // 0 or 1
    int consecutiveFailures = 0;
    PollClock::time_point nextPoll{};
    PollClock::time_point clockDue{};    // when TAD is read next (the epoch: at once)
    PollClock::time_point versionDue{};  // when VER is read next
    uint64_t requests = 0;
    uint64_t good = 0;
    uint64_t errors = 0;
    std::string lastError;
    std::optional<PollClock::time_point> lastGood;  // the end of its last good read
    LineCounts line;                                // what the protocol tap saw of it
};

struct PollSettings {
    std::vector<int> muxes{0, 1, 2, 3, 4};
    int demoteAfter = 3;                               // failed cycles in a row
    std::chrono::milliseconds demotedInterval{10000};  // how often a demoted one is tried
    std::chrono::milliseconds interval{1000};          // the cadence of the cycles
    std::chrono::milliseconds clockEvery{60000};       // how often TAD is read
    std::chrono::milliseconds versionEvery{3600000};   // how often VER is read
    // What one read of a multiplexer that does not answer costs: every attempt waits
    // out the read time-out and a pause.
    std::chrono::milliseconds failedRead{5250};
};

// Receives the events of a multiplexer: demotion, recovery, staleness.
using PollEventSink = std::function<void(const std::string&)>;

class Poller {
  public:
    Poller(PollSettings settings, GateReader reader, PollEventSink events = {});

    // One cycle: every multiplexer that is due is read. `progress` runs after each
    // gate (so a view can redraw), `stop` is asked before each gate. False when no
    // gate was due (every multiplexer demoted and resting): a continuous poll (an
    // interval of 0) then rests kIdleRest before it asks again.
    bool Cycle(const std::function<PollClock::time_point()>& now,
               const std::function<void()>& progress, const std::function<bool()>& stop);

    // The multiplexer's clock was written: it is read in its next turn.
    void ClockWritten(int mux);

    // Multiplexers whose last good read is older than StaleAfter() become stale.
    void Age(PollClock::time_point now, const MuxView* reading = nullptr);
    // Two cycles (of the poll interval, or of the last complete cycle when that took
    // longer), and a failed read for each multiplexer that is failing or demoted: a
    // cycle that tries one of them waits out its time-outs, which leaves the data of
    // the others no less true. And what ran between the reads of this cycle so far
    // (a burst of commands): it delays the reads after it.
    std::chrono::milliseconds StaleAfter() const;

    const std::vector<MuxView>& Muxes() const { return muxes_; }
    // The demoted multiplexers, each "absent" (it has not answered since the start) or
    // "demoted": a write to one would wait out its time-outs, and hold the line.
    std::map<int, std::string> Unreachable() const;
    uint64_t Cycles() const { return cycles_; }
    const std::string& LastError() const { return lastError_; }

  private:
    bool ReadOne(MuxView& view, PollGate gate, PollClock::time_point now);
    void Settle(MuxView& view, bool ok, PollClock::time_point now);
    void Event(const MuxView& view, const std::string& text);

    PollSettings settings_;
    GateReader reader_;
    PollEventSink events_;
    std::chrono::milliseconds lastCycle_{0};
    std::chrono::milliseconds betweenReads_{0};  // in `progress` during this cycle
    std::vector<MuxView> muxes_;
    uint64_t cycles_ = 0;
    std::string lastError_;
};

std::string_view MuxStateName(MuxState state);
// The state to show at `now`: an ok multiplexer whose data has grown too old is stale
// already, even while the poller is busy elsewhere.
MuxState ShownState(const MuxView& view, PollClock::time_point now,
                    std::chrono::milliseconds staleAfter);
double LossPercent(const MuxView& view);

}  // namespace roderavo::tool
