// roderavo poll: every multiplexer polled at the poll interval, shown live on a
// terminal, as plain text (or JSON) otherwise; statistics when it ends.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <functional>
#include <iostream>
#include <mutex>
#include <thread>
#include "address/camera_range.h"

#include "commands/commands.h"
#include "gates/gate_forms.h"
#include "output/host_log.h"
#include "output/json_out.h"
#include "output/text.h"
#include "poll/live_view.h"
#include "poll/poll_gates.h"
#include "poll/poller.h"
#include "system/terminal.h"

namespace roderavo::tool {

namespace {

Json JsonCameras(const std::array<std::optional<uint8_t>, kCamerasPerMux>& cameras) {
    Json list = Json::array();
    for (const auto& camera : cameras) list.push_back(camera ? Json(*camera) : Json(nullptr));
    return list;
}

// Seconds since the last good read, to the millisecond; null before the first.
Json JsonAge(const MuxView& view, PollClock::time_point now) {
    if (!view.lastGood) return nullptr;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - *view.lastGood);
    return static_cast<double>(ms.count()) / 1000.0;
}

void PrintJsonCycle(const Poller& poller) {
    const auto now = PollClock::now();
    const Json stamp = TimedRecord();
    for (const MuxView& view : poller.Muxes()) {
        Json record = stamp;
        record["cycle"] = poller.Cycles();
        record["mux"] = view.mux;
        record["state"] = MuxStateName(ShownState(view, now, poller.StaleAfter()));
        record["age"] = JsonAge(view, now);
        record["version"] = view.version;
        record["clock"] = view.clock;
        record["alarm"] = JsonCameras(view.alarm);
        record["videoLoss"] = JsonCameras(view.videoLoss);
        record["lastError"] = view.lastError;
        PrintJsonLine(record);
    }
}

// What the options ask of the run.
struct PollPlan {
    PollSettings settings;
    std::optional<double> durationMs;
    int cycles = -1;
    bool terminal = false;  // the picture goes to a terminal
};

// The plan, or nothing (with a message) when an option is wrong.
std::optional<PollPlan> PlanPoll(const CommonOptions& options, const PollOptions& pollOptions) {
    PollPlan plan;
    if (!PlanPolling(pollOptions, &plan.settings)) return std::nullopt;
    if (!pollOptions.duration.empty()) {
        plan.durationMs = ParseDurationMs(pollOptions.duration, true);
        if (!plan.durationMs || *plan.durationMs <= 0) {
            // A duration of 0 would run no cycle at all and still end well.
            Complain("--duration " + pollOptions.duration +
                     ": give a time above 0, such as 5 or 5s (without --duration, poll runs "
                     "until q or Ctrl-C)");
            return std::nullopt;
        }
    }
    plan.terminal = LiveScreen::Possible() && !options.json;
    plan.cycles = pollOptions.cycles;
    // Written to a file or a pipe, polling must end by itself.
    if (!plan.terminal && plan.cycles < 0 && !plan.durationMs) plan.cycles = 5;
    return plan;
}

// What the poll worker shares with the screen: a copy of the picture after each gate,
// whether a gate read is in flight, and whether the worker is done.
class PollShared {
  public:
    struct Picture {
        std::vector<MuxView> muxes;
        uint64_t cycles = 0;
        std::string lastError;
        std::chrono::milliseconds staleAfter{0};
        std::string lastEvent;
        uint64_t version = 0;
    };

    void Publish(const Poller& poller) {
        std::lock_guard lock(mutex_);
        picture_.muxes = poller.Muxes();
        picture_.cycles = poller.Cycles();
        picture_.lastError = poller.LastError();
        picture_.staleAfter = poller.StaleAfter();
        ++picture_.version;
    }
    void Event(const std::string& text) {
        std::lock_guard lock(mutex_);
        picture_.lastEvent = text;
        ++picture_.version;
    }
    Picture Take() const {
        std::lock_guard lock(mutex_);
        return picture_;
    }
    std::atomic<bool> busy{false};
    std::atomic<bool> done{false};

  private:
    mutable std::mutex mutex_;
    Picture picture_;
};

// The live screen of a terminal, drawn from the shared picture while the worker polls.
class LiveView {
  public:
    LiveView(const PollOptions& pollOptions, const Session& session) {
        live_ = screen_.Enter();
        colour_ = pollOptions.colour == "always" ||
                  (pollOptions.colour == "auto" && live_ && TerminalHasColour());
        if (live_) SetLogEcho(false);  // the driver's lines would tear the picture
        header_.port = session.PortLabel();
        header_.pollIntervalMs = session.PollIntervalMs();
        header_.timeoutMs = session.TimeoutMs();
        header_.interactive = live_;
    }

    // Until the worker is done or a stop is asked (q, Esc, Ctrl-C): keys are read
    // every 50 ms whatever the driver is doing, and the picture redrawn as it changes.
    void Run(const PollShared& shared) {
        uint64_t drawn = ~uint64_t{0};
        auto lastDraw = PollClock::now();
        while (!shared.done && !StopRequested()) {
            const PollShared::Picture picture = shared.Take();
            const bool due = PollClock::now() - lastDraw >= std::chrono::milliseconds(500);
            if (picture.version != drawn || due || ResizeRequested()) {
                screen_.Draw(Lines(picture));
                drawn = picture.version;
                lastDraw = PollClock::now();
            }
            if (screen_.WaitForQuitKey(50)) RequestStop();
        }
    }

    // The terminal given back; the last picture stays on it, above the statistics.
    void Close(const PollShared& shared) {
        screen_.Leave();
        SetLogEcho(true);
        if (!live_) return;
        header_.interactive = false;
        for (const auto& line : Lines(shared.Take())) std::cout << line << '\n';
        std::cout << std::endl;
    }

  private:
    std::vector<std::string> Lines(const PollShared::Picture& picture) {
        header_.cycle = picture.cycles;
        header_.time = LocalTimeText("%Y-%m-%d %H:%M:%S");
        header_.now = PollClock::now();
        header_.staleAfter = picture.staleAfter;
        header_.lastEvent = picture.lastEvent;
        return RenderView(header_, picture.muxes, picture.lastError, colour_);
    }

    LiveScreen screen_;
    bool live_ = false;
    bool colour_ = false;
    ViewHeader header_;
};

// What the worker prints after each cycle when there is no live screen: the picture
// as plain text, or JSON lines. A reader that went away stops the polling.
void PrintCycle(const Poller& poller, const CommonOptions& options, const Session& session) {
    if (options.json) {
        PrintJsonCycle(poller);
    } else {
        ViewHeader header;
        header.port = session.PortLabel();
        header.pollIntervalMs = session.PollIntervalMs();
        header.timeoutMs = session.TimeoutMs();
        header.cycle = poller.Cycles();
        header.time = LocalTimeText("%Y-%m-%d %H:%M:%S");
        header.now = PollClock::now();
        header.staleAfter = poller.StaleAfter();
        for (const auto& line : RenderView(header, poller.Muxes(), poller.LastError(), false))
            std::cout << line << '\n';
        std::cout << std::endl;
    }
    if (!std::cout) RequestStop();  // a closed pipe
}

// The worker: cycles until a stop, the end of the duration or the last cycle asked
// for, each cycle started a poll interval after the one before.
void PollUntilDone(Poller& poller, PollShared& shared, const PollPlan& plan, int intervalMs,
                   const std::function<void()>& afterCycle) {
    const auto start = PollClock::now();
    auto timeUp = [&] {
        return plan.durationMs &&
               std::chrono::duration<double, std::milli>(PollClock::now() - start).count() >=
                   *plan.durationMs;
    };
    const std::function<bool()> stop = [&] { return StopRequested() || timeUp(); };
    while (!stop()) {
        const auto cycleStart = PollClock::now();
        const bool read =
            poller.Cycle([] { return PollClock::now(); }, [&] { shared.Publish(poller); }, stop);
        shared.Publish(poller);
        afterCycle();
        if (plan.cycles > 0 && poller.Cycles() >= static_cast<uint64_t>(plan.cycles)) break;
        const auto next = cycleStart + std::max(std::chrono::milliseconds(intervalMs),
                                                read ? std::chrono::milliseconds(0) : kIdleRest);
        while (!stop() && PollClock::now() < next)
            SleepUnlessStopped(static_cast<int>(
                std::chrono::ceil<std::chrono::milliseconds>(next - PollClock::now()).count()));
    }
    shared.done = true;
}

// Success when every polled multiplexer answered at the end.
int PollExitCode(const std::vector<MuxView>& muxes, const std::string& lastError,
                 const std::string& port) {
    int exitCode = kExitOk;
    for (const MuxView& view : muxes)
        if (view.state != MuxState::Ok && view.state != MuxState::Waiting) exitCode = kExitLine;
    if (exitCode == kExitLine && !lastError.empty())
        Complain("not every multiplexer answered on port " + port + "; last error: " + lastError);
    return exitCode;
}

// A poll event: on stderr and in the log file with its time, in the live view's
// last event line, and as a JSON record in --json mode.
PollEventSink EventSink(const CommonOptions& options, PollShared& shared) {
    return [&options, &shared](const std::string& text) {
        const std::string stamped = LocalTimeMsText() + " " + text;
        shared.Event(stamped);
        if (options.json) {
            Json record = TimedRecord();
            record["event"] = text;
            PrintJsonLine(record);
            ToolLine("event", "roderavo: " + text);
        } else {
            ToolLine("event", stamped.substr(0, 12) + " roderavo: " + text);
        }
    };
}

}  // namespace

int RunPoll(const CommonOptions& options, const PollOptions& pollOptions) {
    InstallStopSignals();
    Session session;
    int exitCode = kExitOk;
    if (!session.LoadDriver(options, &exitCode)) return exitCode;
    std::optional<PollPlan> plan = PlanPoll(options, pollOptions);
    if (!plan) return kExitRefused;
    std::vector<MuxGates> gates;
    if (!BindMuxGates(session, plan->settings.muxes, &gates)) return kExitRefused;
    session.UseTap(true);  // the line's own counts: retries, time-outs, bad replies
    if (!session.OpenLine(options, &exitCode)) return exitCode;
    TimePolling(session, &plan->settings);

    PollShared shared;
    Poller poller(
        plan->settings,
        [&](int mux, PollGate which) {
            std::size_t index = 0;
            while (plan->settings.muxes[index] != mux) ++index;
            shared.busy = true;
            GateOutcome outcome = ReadPollGate(session, gates[index].Of(which));
            shared.busy = false;
            return outcome;
        },
        EventSink(options, shared));
    const auto start = PollClock::now();
    auto afterCycle = [&] {
        if (!plan->terminal) PrintCycle(poller, options, session);
    };
    if (plan->terminal) {
        LiveView view(pollOptions, session);
        std::thread worker(
            [&] { PollUntilDone(poller, shared, *plan, session.PollIntervalMs(), afterCycle); });
        view.Run(shared);
        view.Close(shared);
        if (!shared.done && shared.busy)
            std::cout << "roderavo: stopping after the current exchange... (Ctrl-C again ends "
                         "at once)"
                      << std::endl;
        ExitOnSecondInterrupt(true);
        worker.join();
        ExitOnSecondInterrupt(false);
    } else {
        PollUntilDone(poller, shared, *plan, session.PollIntervalMs(), afterCycle);
    }
    const double seconds = std::chrono::duration<double>(PollClock::now() - start).count();
    session.CloseLine();  // Exit: the port is released before the statistics are shown
    PrintStatistics(options, session, poller.Muxes(), poller.Cycles(), seconds);
    return PollExitCode(poller.Muxes(), poller.LastError(), session.PortLabel());
}

}  // namespace roderavo::tool
