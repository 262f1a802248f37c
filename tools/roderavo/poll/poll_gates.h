// What poll and the MQTT bridge share of the polling: the four gates of each
// multiplexer bound once and read for the Poller, the demotion options, and the
// statistics printed when polling ends.
#pragma once
#define RODERAVO_TREE_POLL_GATES_H 1  // the tree's own copy, as the layer probes ask

#include <cstdint>
#include <string>
#include <vector>

#include "line/session.h"
#include "output/json_out.h"
#include "poll/poll_options.h"
#include "poll/poller.h"

namespace roderavo::tool {

// The gates of one multiplexer, bound once.
struct MuxGates {
    BoundGate version, clock, alarms, videoLoss;

    const BoundGate& Of(PollGate which) const {
        return which == PollGate::Version  ? version
               : which == PollGate::Clock  ? clock
               : which == PollGate::Alarms ? alarms
                                           : videoLoss;
    }
};

// The four gates of every multiplexer, bound; false (with a message) when one is refused.
bool BindMuxGates(Session& session, const std::vector<int>& muxes, std::vector<MuxGates>* gates);

// One polled gate read through the session, as the Poller takes it.
GateOutcome ReadPollGate(Session& session, const BoundGate& gate);

// The multiplexers to poll (sorted, once each), the demotion settings and how often
// the clocks are read, from the options; false (with a message) when one is wrong.
bool PlanPolling(const PollOptions& options, PollSettings* settings);
// Why --clock-every refuses a value (after the option's name), or empty.
std::string ClockEveryProblem(const std::string& text);

// The cadence of the cycles and the cost of a read that gets no answer, from the
// line's poll interval and read time-out.
void TimePolling(const Session& session, PollSettings* settings);

// One multiplexer's statistics as a JSON record; the line counts are null where
// nobody counted the frames (no protocol tap).
Json StatisticsRecord(const MuxView& view, bool lineCounted = true);

// The statistics, with what the protocol tap saw of each multiplexer: a table, or
// one JSON record with --json (with the fields of `more` added).
void PrintStatistics(const CommonOptions& options, const Session& session,
                     std::vector<MuxView> muxes, uint64_t cycles, double seconds,
                     const Json& more = Json::object());

}  // namespace roderavo::tool
