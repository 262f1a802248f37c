// roderavo poll: every multiplexer polled at the poll interval, shown live on a
// terminal, as plain text (or JSON) otherwise; statistics when it ends.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <iostream>

#include "commands.h"
#include "gate_forms.h"
#include "host_log.h"
#include "live_view.h"
#include "poller.h"
#include "terminal.h"
#include "text.h"

namespace roderavo::tool {

namespace {

// The gates of one multiplexer, bound once.
struct MuxGates {
    BoundGate version, clock, alarms, videoLoss;
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

}  // namespace

int RunPoll(const CommonOptions& options, const PollOptions& pollOptions) {
    InstallStopSignals();
    Session session;
    int exitCode = kExitOk;
    if (!session.LoadDriver(options, &exitCode)) return exitCode;

    PollSettings settings;
    settings.muxes = pollOptions.muxes;
    std::sort(settings.muxes.begin(), settings.muxes.end());
    settings.muxes.erase(std::unique(settings.muxes.begin(), settings.muxes.end()),
                         settings.muxes.end());
    settings.demoteAfter = pollOptions.demoteAfter;
    const auto demoteMs = ParseDurationMs(pollOptions.demoteFor, true);
    if (!demoteMs || settings.demoteAfter < 1) {
        Complain("--demote-after takes a count of 1 or more, --demote-for a time such as 10s");
        return kExitRefused;
    }
    settings.demotedInterval = std::chrono::milliseconds(std::llround(*demoteMs));
    std::optional<double> durationMs;
    if (!pollOptions.duration.empty()) {
        durationMs = ParseDurationMs(pollOptions.duration, true);
        if (!durationMs) {
            Complain("--duration " + pollOptions.duration + ": give a time such as 5 or 5s");
            return kExitRefused;
        }
    }
    const bool terminal = isatty(STDOUT_FILENO) && !options.json;
    int cycles = pollOptions.cycles;
    // Written to a file or a pipe, polling must end by itself.
    if (!terminal && cycles < 0 && !durationMs) cycles = 5;

    std::vector<MuxGates> gates;
    for (int mux : settings.muxes) {
        if (mux < 0 || mux > 4) {
            Complain("--mux takes multiplexer numbers 0..4");
            return kExitRefused;
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
                return kExitRefused;
            }
        }
        MuxGates g{*bound[0], *bound[1], *bound[2], *bound[3]};
        gates.push_back(g);
    }
    if (!session.OpenLine(options, &exitCode)) return exitCode;

    auto reader = [&](int mux, PollGate which) {
        std::size_t index = 0;
        while (settings.muxes[index] != mux) ++index;
        const MuxGates& g = gates[index];
        const BoundGate& gate = which == PollGate::Version  ? g.version
                                : which == PollGate::Clock  ? g.clock
                                : which == PollGate::Alarms ? g.alarms
                                                            : g.videoLoss;
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
    };
    Poller poller(settings, reader);

    LiveScreen screen;
    const bool live = terminal && screen.Enter();
    bool colour = pollOptions.colour == "always" ||
                  (pollOptions.colour == "auto" && live && TerminalHasColour());
    if (live) SetLogEcho(false);  // the driver's lines would tear the picture

    ViewHeader header;
    header.port = session.PortLabel();
    header.pollIntervalMs = session.PollIntervalMs();
    header.interactive = live;
    auto draw = [&] {
        header.cycle = poller.Cycles();
        header.time = LocalTimeText("%Y-%m-%d %H:%M:%S");
        const auto lines = RenderView(header, poller.Muxes(), poller.LastError(), colour);
        if (live) {
            screen.Draw(lines);
        } else if (!options.json) {
            for (const auto& line : lines) std::cout << line << '\n';
            std::cout.flush();
            if (!std::cout) RequestStop();  // the reader went away
        }
    };

    const auto start = PollClock::now();
    auto timeUp = [&] {
        return durationMs &&
               std::chrono::duration<double, std::milli>(PollClock::now() - start).count() >=
                   *durationMs;
    };
    auto stop = [&] { return StopRequested() || timeUp(); };
    if (live) draw();
    while (!stop()) {
        const auto cycleStart = PollClock::now();
        poller.Cycle([] { return PollClock::now(); },
                     [&] {
                         if (live) draw();
                     },
                     stop);
        if (live) {
            draw();
        } else if (options.json) {
            PrintJsonCycle(poller);
        } else {
            draw();
            std::cout << '\n';
        }
        if (cycles > 0 && poller.Cycles() >= static_cast<uint64_t>(cycles)) break;
        // Wait for the rest of the poll interval (a key q ends it on a terminal).
        const auto next = cycleStart + std::chrono::milliseconds(session.PollIntervalMs());
        while (!stop() && PollClock::now() < next) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(next - PollClock::now())
                    .count();
            const int slice =
                static_cast<int>(std::min<long long>(std::max<long long>(left, 1), 50));
            if (live) {
                if (screen.WaitForQuitKey(slice)) RequestStop();
                if (ResizeRequested()) draw();
            } else {
                SleepUnlessStopped(slice);
            }
        }
    }
    screen.Leave();
    SetLogEcho(true);
    if (live) {
        // The last picture stays on the terminal, above the statistics.
        header.interactive = false;
        header.cycle = poller.Cycles();
        header.time = LocalTimeText("%Y-%m-%d %H:%M:%S");
        for (const auto& line : RenderView(header, poller.Muxes(), poller.LastError(), colour))
            std::cout << line << '\n';
        std::cout << '\n';
    }
    const double seconds = std::chrono::duration<double>(PollClock::now() - start).count();
    session.CloseLine();  // Exit: the port is released before the statistics are shown
    if (options.json) {
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
    } else {
        for (const auto& line :
             RenderStatistics(poller.Muxes(), poller.Cycles(), seconds, header.port))
            std::cout << line << '\n';
    }
    // Success when every polled multiplexer answered at the end.
    for (const MuxView& view : poller.Muxes())
        if (view.state != MuxState::Ok && view.state != MuxState::Waiting) exitCode = kExitLine;
    if (exitCode == kExitLine && !poller.LastError().empty())
        Complain("not every multiplexer answered on port " + header.port +
                 "; last error: " + poller.LastError());
    return exitCode;
}

}  // namespace roderavo::tool
