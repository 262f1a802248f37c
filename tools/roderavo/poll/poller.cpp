#include "poll/poller.h"

#include <roderavo/kor.h>

#include <algorithm>

#include "output/text.h"

namespace roderavo::tool {

namespace {

std::string_view GatePrefix(PollGate gate) {
    switch (gate) {
        case PollGate::Version:
            return "VER";
        case PollGate::Clock:
            return "TAD";
        case PollGate::Alarms:
            return "AAS";
        case PollGate::VideoLoss:
            return "VLS";
    }
    return "?";
}

}  // namespace

std::string_view MuxStateName(MuxState state) {
    switch (state) {
        case MuxState::Waiting:
            return "waiting";
        case MuxState::Ok:
            return "ok";
        case MuxState::Stale:
            return "stale";
        case MuxState::Failing:
            return "failing";
        case MuxState::Demoted:
            return "demoted";
    }
    return "?";
}

MuxState ShownState(const MuxView& view, PollClock::time_point now,
                    std::chrono::milliseconds staleAfter) {
    if (view.state == MuxState::Ok && view.lastGood && now - *view.lastGood > staleAfter)
        return MuxState::Stale;
    return view.state;
}

double LossPercent(const MuxView& view) {
    return view.requests == 0
               ? 0.0
               : 100.0 * static_cast<double>(view.errors) / static_cast<double>(view.requests);
}

Poller::Poller(PollSettings settings, GateReader reader, PollEventSink events)
    : settings_(std::move(settings)), reader_(std::move(reader)), events_(std::move(events)) {
    for (int mux : settings_.muxes) {
        MuxView view;
        view.mux = mux;
        muxes_.push_back(view);
    }
}

bool Poller::ReadOne(MuxView& view, PollGate gate, PollClock::time_point now) {
    const GateOutcome outcome = reader_(view.mux, gate);
    ++view.requests;
    if (outcome.status != KOR_OK) {
        ++view.errors;
        const std::string name = std::string(GatePrefix(gate)) + std::to_string(view.mux);
        std::string what = outcome.status == KOR_COMM_FAILURE ? "no answer"
                           : outcome.malformed                ? "unusable reply"
                                                              : "refused reply";
        view.lastError = LocalTimeText("%H:%M:%S") + " " + name + ": " + what;
        if (!outcome.logLine.empty()) view.lastError += " (" + outcome.logLine + ")";
        lastError_ = "mux " + std::to_string(view.mux) + " " + view.lastError;
        return false;
    }
    ++view.good;
    view.lastGood = now;
    // Answering again after failing: its version and clock are read in this turn.
    if (view.consecutiveFailures > 0) view.versionDue = view.clockDue = {};
    switch (gate) {
        case PollGate::Version:
            view.version = outcome.text;
            view.versionDue = now + settings_.versionEvery;
            break;
        case PollGate::Clock:
            view.clock = outcome.text;
            view.clockDue = now + settings_.clockEvery;
            break;
        case PollGate::Alarms:
            view.alarm = outcome.cameras;
            break;
        case PollGate::VideoLoss:
            view.videoLoss = outcome.cameras;
            break;
    }
    return true;
}

std::chrono::milliseconds Poller::StaleAfter() const {
    // Before the first cycle is complete nobody knows how long one takes.
    if (cycles_ < 2) return std::chrono::hours(24 * 365);
    const auto unanswering = std::count_if(muxes_.begin(), muxes_.end(), [](const MuxView& view) {
        return view.state == MuxState::Failing || view.state == MuxState::Demoted;
    });
    // Data younger than kLeastStaleAfter is never stale: a continuous poll of an
    // instant line has cycles shorter than a millisecond.
    return std::max(kLeastStaleAfter, 2 * std::max(settings_.interval, lastCycle_) +
                                          static_cast<int>(unanswering) * settings_.failedRead +
                                          betweenReads_);
}

std::map<int, std::string> Poller::Unreachable() const {
    std::map<int, std::string> unreachable;
    for (const MuxView& view : muxes_)
        if (view.state == MuxState::Demoted)
            unreachable[view.mux] = view.lastGood ? "demoted" : "absent";
    return unreachable;
}

void Poller::ClockWritten(int mux) {
    for (MuxView& view : muxes_)
        if (view.mux == mux) view.clockDue = {};
}

void Poller::Event(const MuxView& view, const std::string& text) {
    if (events_) events_("mux " + std::to_string(view.mux) + " " + text);
}

void Poller::Age(PollClock::time_point now, const MuxView* reading) {
    for (MuxView& view : muxes_) {
        // The one being read is settled by its own reads.
        if (&view == reading || view.state != MuxState::Ok || !view.lastGood) continue;
        const auto age = now - *view.lastGood;
        if (age <= StaleAfter()) continue;
        view.state = MuxState::Stale;
        Event(view, "stale: no good read for " + SecondsText(age));
    }
}

// The state after a cycle of the multiplexer, and the events of a change.
void Poller::Settle(MuxView& view, bool ok, PollClock::time_point now) {
    const MuxState before = view.state;
    if (ok) {
        view.consecutiveFailures = 0;
        view.state = MuxState::Ok;
        if (before == MuxState::Demoted || before == MuxState::Stale)
            Event(view, "answers again: ok (was " + std::string(MuxStateName(before)) + ")");
        return;
    }
    ++view.consecutiveFailures;
    // One that has never answered (most sites have fewer than five) is not waited for
    // cycle after cycle: it is demoted at once.
    const bool neverAnswered = !view.lastGood.has_value();
    if (neverAnswered || view.consecutiveFailures >= settings_.demoteAfter) {
        view.state = MuxState::Demoted;
        view.nextPoll = now + settings_.demotedInterval;
        const std::string why =
            neverAnswered
                ? std::string(": it has not answered since the start;")
                : " after " + std::to_string(view.consecutiveFailures) + " failed cycles:";
        if (before != MuxState::Demoted)
            Event(view, "demoted" + why + " polled every " +
                            SecondsText(settings_.demotedInterval) + " only");
    } else if (before != MuxState::Demoted) {
        view.state = MuxState::Failing;
    } else {
        view.nextPoll = now + settings_.demotedInterval;
    }
}

bool Poller::Cycle(const std::function<PollClock::time_point()>& now,
                   const std::function<void()>& progress, const std::function<bool()>& stop) {
    bool readAny = false;
    ++cycles_;
    betweenReads_ = {};
    progress();  // the view says which cycle runs
    const auto start = now();
    // What runs between the reads (commands, a redraw) delays every read after it.
    const auto between = [&] {
        const auto before = now();
        progress();
        betweenReads_ += std::chrono::duration_cast<std::chrono::milliseconds>(now() - before);
    };
    for (MuxView& view : muxes_) {
        if (view.state == MuxState::Demoted && now() < view.nextPoll) continue;
        bool ok = true;
        bool stopped = false;
        // Reads one gate; false when the turn ends: a stop, or a multiplexer that does
        // not answer at all (each further gate would cost five time-outs).
        const auto read = [&](PollGate gate) {
            if (stop()) {
                stopped = true;
                return false;
            }
            readAny = true;
            const bool answered = ReadOne(view, gate, now());
            ok = ok && answered;
            Age(now(), &view);
            between();
            return answered || view.lastError.find("no answer") == std::string::npos;
        };
        // The alarms first: they are what a subscriber waits for. Whether the clock
        // and the version are due is asked after them, as an answer after failing
        // makes them due.
        bool go = read(PollGate::Alarms) && read(PollGate::VideoLoss);
        if (go && now() >= view.clockDue) go = read(PollGate::Clock);
        if (go && now() >= view.versionDue) read(PollGate::Version);
        if (stopped) return readAny;
        Settle(view, ok, now());
        between();
    }
    lastCycle_ = std::chrono::duration_cast<std::chrono::milliseconds>(now() - start);
    return readAny;
}

}  // namespace roderavo::tool
