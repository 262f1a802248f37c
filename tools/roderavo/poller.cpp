#include "poller.h"

#include <roderavo/kor.h>

#include "text.h"

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
        case MuxState::Failing:
            return "failing";
        case MuxState::Demoted:
            return "demoted";
    }
    return "?";
}

double LossPercent(const MuxView& view) {
    return view.requests == 0
               ? 0.0
               : 100.0 * static_cast<double>(view.errors) / static_cast<double>(view.requests);
}

Poller::Poller(PollSettings settings, GateReader reader)
    : settings_(std::move(settings)), reader_(std::move(reader)) {
    for (int mux : settings_.muxes) {
        MuxView view;
        view.mux = mux;
        muxes_.push_back(view);
    }
}

bool Poller::ReadOne(MuxView& view, PollGate gate) {
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
    switch (gate) {
        case PollGate::Version:
            view.version = outcome.text;
            break;
        case PollGate::Clock:
            view.clock = outcome.text;
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

void Poller::Cycle(const std::function<PollClock::time_point()>& now,
                   const std::function<void()>& progress, const std::function<bool()>& stop) {
    ++cycles_;
    for (MuxView& view : muxes_) {
        if (view.state == MuxState::Demoted && now() < view.nextPoll) continue;
        bool ok = true;
        for (PollGate gate :
             {PollGate::Version, PollGate::Clock, PollGate::Alarms, PollGate::VideoLoss}) {
            if (stop()) return;
            const bool answered = ReadOne(view, gate);
            ok = ok && answered;
            progress();
            // A multiplexer that does not answer at all is not asked for the rest
            // of its gates in this cycle: each would cost five time-outs.
            if (!answered && view.lastError.find("no answer") != std::string::npos) break;
        }
        if (ok) {
            view.consecutiveFailures = 0;
            view.state = MuxState::Ok;
        } else {
            ++view.consecutiveFailures;
            if (view.consecutiveFailures >= settings_.demoteAfter) {
                view.state = MuxState::Demoted;
                view.nextPoll = now() + settings_.demotedInterval;
            } else if (view.state != MuxState::Demoted) {
                view.state = MuxState::Failing;
            } else {
                view.nextPoll = now() + settings_.demotedInterval;
            }
        }
        progress();
    }
}

}  // namespace roderavo::tool
