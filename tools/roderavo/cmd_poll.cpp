// roderavo poll: every multiplexer polled at the poll interval, shown live on a
// terminal, as plain text (or JSON) otherwise; statistics when it ends.
#include <algorithm>
#include <cmath>
#include <functional>
#include <iostream>

#include "commands.h"
#include "gate_forms.h"
#include "host_log.h"
#include "live_view.h"
#include "platform.h"
#include "poller.h"
#include "terminal.h"
#include "text.h"

namespace roderavo::tool {

namespace {

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

std::string JsonCameras(const std::array<std::optional<uint8_t>, 20>& cameras) {
    std::string out = "[";
    for (std::size_t i = 0; i < cameras.size(); ++i)
        out += (i ? "," : "") + (cameras[i] ? std::to_string(*cameras[i]) : std::string("null"));
    return out + "]";
}

void PrintJsonCycle(const Poller& poller) {
    for (const MuxView& view : poller.Muxes()) {
        std::cout << "{\"cycle\":" << poller.Cycles() << ",\"mux\":" << view.mux
                  << ",\"state\":" << JsonString(MuxStateName(view.state))
                  << ",\"version\":" << JsonString(view.version)
                  << ",\"clock\":" << JsonString(view.clock)
                  << ",\"alarm\":" << JsonCameras(view.alarm)
                  << ",\"videoLoss\":" << JsonCameras(view.videoLoss)
                  << ",\"lastError\":" << JsonString(view.lastError) << "}\n";
    }
    std::cout.flush();
}

void PrintJsonStatistics(const Poller& poller, double seconds) {
    std::cout << "{\"statistics\":[";
    bool first = true;
    for (const MuxView& view : poller.Muxes()) {
        std::cout << (first ? "" : ",") << "{\"mux\":" << view.mux
                  << ",\"requests\":" << view.requests << ",\"good\":" << view.good
                  << ",\"errors\":" << view.errors << ",\"loss\":" << LossPercent(view)
                  << ",\"state\":" << JsonString(MuxStateName(view.state)) << "}";
        first = false;
    }
    std::cout << "],\"cycles\":" << poller.Cycles() << ",\"seconds\":" << seconds << "}\n";
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
    std::vector<int>& muxes = plan.settings.muxes;
    muxes = pollOptions.muxes;
    std::sort(muxes.begin(), muxes.end());
    muxes.erase(std::unique(muxes.begin(), muxes.end()), muxes.end());
    plan.settings.demoteAfter = pollOptions.demoteAfter;
    const auto demoteMs = ParseDurationMs(pollOptions.demoteFor, true);
    if (!demoteMs || plan.settings.demoteAfter < 1) {
        Complain("--demote-after takes a count of 1 or more, --demote-for a time such as 10s");
        return std::nullopt;
    }
    plan.settings.demotedInterval = std::chrono::milliseconds(std::llround(*demoteMs));
    if (!pollOptions.duration.empty()) {
        plan.durationMs = ParseDurationMs(pollOptions.duration, true);
        if (!plan.durationMs) {
            Complain("--duration " + pollOptions.duration + ": give a time such as 5 or 5s");
            return std::nullopt;
        }
    }
    plan.terminal = StdoutIsTerminal() && !options.json;
    plan.cycles = pollOptions.cycles;
    // Written to a file or a pipe, polling must end by itself.
    if (!plan.terminal && plan.cycles < 0 && !plan.durationMs) plan.cycles = 5;
    return plan;
}

// The four gates of every multiplexer, bound; false (with a message) when one is refused.
bool BindMuxGates(Session& session, const std::vector<int>& muxes, std::vector<MuxGates>* gates) {
    for (int mux : muxes) {
        if (mux < 0 || mux > 4) {
            Complain("--mux takes multiplexer numbers 0..4");
            return false;
        }
        std::string why;
        const std::string digit = std::to_string(mux);
        std::array<std::optional<BoundGate>, 4> bound;
        const char* words[] = {"VER", "TAD", "AAS", "VLS"};
        for (std::size_t i = 0; i < bound.size(); ++i) {
            bound[i] = session.Bind(words[i] + digit, &why);
            if (!bound[i]) {
                Complain("the driver refused the address " + std::string(words[i]) + digit +
                         ": is --driver the roderavo driver?");
                return false;
            }
        }
        gates->push_back(MuxGates{*bound[0], *bound[1], *bound[2], *bound[3]});
    }
    return true;
}

GateOutcome ReadPollGate(Session& session, const BoundGate& gate) {
    const ReadResult result = session.Read(gate);
    GateOutcome outcome;
    outcome.status = result.status;
    outcome.malformed = result.malformed;
    outcome.text = result.text;
    outcome.logLine = result.logLine;
    for (std::size_t i = 0; i < result.companions.size() && i < 20; ++i) {
        const auto& value = result.companions[i].number;
        if (value && *value >= 0 && *value <= 255)
            outcome.cameras[i] = static_cast<uint8_t>(std::lround(*value));
    }
    return outcome;
}

// Where the picture goes: the live screen on a terminal, plain text or JSON lines
// otherwise; and the wait between cycles, which a key q ends on a terminal.
class PollScreen {
  public:
    PollScreen(const CommonOptions& options, const PollOptions& pollOptions, bool terminal,
               const Session& session)
        : json_(options.json) {
        live_ = terminal && screen_.Enter();
        colour_ = pollOptions.colour == "always" ||
                  (pollOptions.colour == "auto" && live_ && TerminalHasColour());
        if (live_) SetLogEcho(false);  // the driver's lines would tear the picture
        header_.port = session.PortLabel();
        header_.pollIntervalMs = session.PollIntervalMs();
        header_.interactive = live_;
    }

    bool Live() const { return live_; }
    const std::string& Port() const { return header_.port; }

    void Draw(const Poller& poller) {
        const auto lines = Picture(poller);
        if (live_) {
            screen_.Draw(lines);
        } else if (!json_) {
            for (const auto& line : lines) std::cout << line << '\n';
            std::cout.flush();
            if (!std::cout) RequestStop();  // the reader went away
        }
    }

    // The picture after a cycle.
    void ShowCycle(const Poller& poller) {
        if (live_) {
            Draw(poller);
        } else if (json_) {
            PrintJsonCycle(poller);
        } else {
            Draw(poller);
            std::cout << '\n';
        }
    }

    void WaitUntil(PollClock::time_point next, const std::function<bool()>& stop,
                   const Poller& poller) {
        while (!stop() && PollClock::now() < next) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(next - PollClock::now())
                    .count();
            const int slice =
                static_cast<int>(std::min<long long>(std::max<long long>(left, 1), 50));
            if (live_) {
                if (screen_.WaitForQuitKey(slice)) RequestStop();
                if (ResizeRequested()) Draw(poller);
            } else {
                SleepUnlessStopped(slice);
            }
        }
    }

    // The terminal given back; the last picture stays on it, above the statistics.
    void Close(const Poller& poller) {
        screen_.Leave();
        SetLogEcho(true);
        if (!live_) return;
        header_.interactive = false;
        for (const auto& line : Picture(poller)) std::cout << line << '\n';
        std::cout << '\n';
    }

  private:
    std::vector<std::string> Picture(const Poller& poller) {
        header_.cycle = poller.Cycles();
        header_.time = LocalTimeText("%Y-%m-%d %H:%M:%S");
        return RenderView(header_, poller.Muxes(), poller.LastError(), colour_);
    }

    LiveScreen screen_;
    bool json_;
    bool live_ = false;
    bool colour_ = false;
    ViewHeader header_;
};

// Cycles until a stop, the end of the duration or the last cycle asked for, each
// cycle started a poll interval after the one before.
void PollUntilDone(Poller& poller, PollScreen& screen, const PollPlan& plan, int intervalMs,
                   PollClock::time_point start) {
    auto timeUp = [&] {
        return plan.durationMs &&
               std::chrono::duration<double, std::milli>(PollClock::now() - start).count() >=
                   *plan.durationMs;
    };
    const std::function<bool()> stop = [&] { return StopRequested() || timeUp(); };
    if (screen.Live()) screen.Draw(poller);
    while (!stop()) {
        const auto cycleStart = PollClock::now();
        poller.Cycle([] { return PollClock::now(); },
                     [&] {
                         if (screen.Live()) screen.Draw(poller);
                     },
                     stop);
        screen.ShowCycle(poller);
        if (plan.cycles > 0 && poller.Cycles() >= static_cast<uint64_t>(plan.cycles)) break;
        screen.WaitUntil(cycleStart + std::chrono::milliseconds(intervalMs), stop, poller);
    }
}

// Success when every polled multiplexer answered at the end.
int PollExitCode(const Poller& poller, const std::string& port) {
    int exitCode = kExitOk;
    for (const MuxView& view : poller.Muxes())
        if (view.state != MuxState::Ok && view.state != MuxState::Waiting) exitCode = kExitLine;
    if (exitCode == kExitLine && !poller.LastError().empty())
        Complain("not every multiplexer answered on port " + port +
                 "; last error: " + poller.LastError());
    return exitCode;
}

}  // namespace

int RunPoll(const CommonOptions& options, const PollOptions& pollOptions) {
    InstallStopSignals();
    Session session;
    int exitCode = kExitOk;
    if (!session.LoadDriver(options, &exitCode)) return exitCode;
    const std::optional<PollPlan> plan = PlanPoll(options, pollOptions);
    if (!plan) return kExitRefused;
    std::vector<MuxGates> gates;
    if (!BindMuxGates(session, plan->settings.muxes, &gates)) return kExitRefused;
    if (!session.OpenLine(options, &exitCode)) return exitCode;

    Poller poller(plan->settings, [&](int mux, PollGate which) {
        std::size_t index = 0;
        while (plan->settings.muxes[index] != mux) ++index;
        return ReadPollGate(session, gates[index].Of(which));
    });
    PollScreen screen(options, pollOptions, plan->terminal, session);
    const auto start = PollClock::now();
    PollUntilDone(poller, screen, *plan, session.PollIntervalMs(), start);
    screen.Close(poller);
    const double seconds = std::chrono::duration<double>(PollClock::now() - start).count();
    session.CloseLine();  // Exit: the port is released before the statistics are shown
    if (options.json) {
        PrintJsonStatistics(poller, seconds);
    } else {
        for (const auto& line :
             RenderStatistics(poller.Muxes(), poller.Cycles(), seconds, screen.Port()))
            std::cout << line << '\n';
    }
    return PollExitCode(poller, screen.Port());
}

}  // namespace roderavo::tool
