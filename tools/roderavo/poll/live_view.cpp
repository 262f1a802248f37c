#include "poll/live_view.h"

#include "address/camera_range.h"
#include "output/text.h"
#include "system/platform.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace roderavo::tool {

namespace {

constexpr const char* kReset = "\x1b[0m";

const char* ColourOf(CameraLook look) {
    switch (look) {
        case CameraLook::Alarm:
            return "\x1b[1;37;41m";  // white on red
        case CameraLook::VideoLoss:
            return "\x1b[1;30;43m";  // black on yellow
        case CameraLook::Unknown:
            return "\x1b[1;37;45m";  // white on magenta
        case CameraLook::Fine:
            return "\x1b[32m";  // green
        case CameraLook::NotRead:
            return "\x1b[2m";  // dim
    }
    return "";
}

const char* StateColour(MuxState state) {
    switch (state) {
        case MuxState::Ok:
            return "\x1b[32m";
        case MuxState::Stale:
            return "\x1b[1;35m";
        case MuxState::Failing:
            return "\x1b[1;33m";
        case MuxState::Demoted:
            return "\x1b[1;31m";
        case MuxState::Waiting:
            return "\x1b[2m";
    }
    return "";
}

// The text in `width` columns: cut after whole characters, or filled with spaces.
std::string Pad(std::string_view text, std::size_t width) {
    std::string out(Utf8Head(text, width));
    out.append(width - Utf8Length(out), ' ');
    return out;
}

std::string Format(const char* format, auto... args) {
    char text[256];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

}  // namespace

CameraLook LookOf(const std::optional<uint8_t>& alarm, const std::optional<uint8_t>& videoLoss) {
    if (!alarm && !videoLoss) return CameraLook::NotRead;
    if (alarm && *alarm == 0x20) return CameraLook::Alarm;
    if ((alarm && *alarm == 0x2E) || (videoLoss && *videoLoss == 1)) return CameraLook::VideoLoss;
    if (alarm && *alarm != 0x00) return CameraLook::Unknown;
    return CameraLook::Fine;
}

char CellChar(CameraLook look) {
    switch (look) {
        case CameraLook::NotRead:
            return '-';
        case CameraLook::Fine:
            return '.';
        case CameraLook::Alarm:
            return 'A';
        case CameraLook::VideoLoss:
            return 'V';
        case CameraLook::Unknown:
            return '?';
    }
    return ' ';
}

namespace {

// A demoted multiplexer's cameras are not seen now: what was read of them last is
// shown as unknown, not as fine (its age stands in the row).
std::string CameraCells(const MuxView& view, MuxState shown, bool colour) {
    std::string cells;
    for (std::size_t i = 0; i < view.alarm.size(); ++i) {
        CameraLook look = LookOf(view.alarm[i], view.videoLoss[i]);
        if (shown == MuxState::Demoted && look != CameraLook::NotRead) look = CameraLook::Unknown;
        if (colour) {
            cells += ColourOf(look);
            cells += CellChar(look);
            cells += kReset;
        } else {
            cells += CellChar(look);
        }
        cells += ' ';
    }
    return cells;
}

std::string MuxRow(const ViewHeader& header, const MuxView& view, bool colour) {
    const int first = FirstCamera(view.mux);
    std::string row = Format("%3d %3d-%-3d  ", view.mux, first, LastCamera(view.mux));
    const MuxState shown = ShownState(view, header.now, header.staleAfter);
    row += CameraCells(view, shown, colour) + "  ";
    // The state comes first: on a narrow terminal the row is cut at the right.
    std::string state(MuxStateName(shown));
    if (shown == MuxState::Failing) state += " (" + std::to_string(view.consecutiveFailures) + ")";
    state = Pad(state, 12);
    row += colour ? std::string(StateColour(shown)) + state + kReset : state;
    // How old the data is: since the multiplexer's last good read.
    row += Pad(view.lastGood ? SecondsText(header.now - *view.lastGood) : "-", 9);
    row += Pad(view.version.empty() ? "-" : view.version, 17) + " ";
    row += view.clock.empty() ? "-" : view.clock;
    return row;
}

std::string Legend(bool colour) {
    if (!colour) return "  . fine   A alarm   V video loss   ? unknown   - not read";
    std::string legend = "  ";
    for (CameraLook look : {CameraLook::Fine, CameraLook::Alarm, CameraLook::VideoLoss,
                            CameraLook::Unknown, CameraLook::NotRead}) {
        const char* names[] = {"not read", "fine", "alarm", "video loss", "unknown"};
        legend += std::string(ColourOf(look)) + CellChar(look) + kReset + " " +
                  names[static_cast<int>(look)] + "   ";
    }
    return legend;
}

}  // namespace

std::vector<std::string> RenderView(const ViewHeader& header, const std::vector<MuxView>& muxes,
                                    const std::string& lastError, bool colour) {
    std::vector<std::string> lines;
    lines.push_back("roderavo poll | port " + header.port + " | interval " +
                    std::to_string(header.pollIntervalMs) + " ms | time-out " +
                    std::to_string(header.timeoutMs) + " ms | cycle " +
                    std::to_string(header.cycle) + " | " + header.time);
    lines.push_back("");
    // Camera columns: each cell is the camera's character and a space, so the
    // column numbers 1, 5, 10, 15, 20 stand over their cells.
    std::string cells(2 * kCamerasPerMux, ' ');
    for (int c : {1, 5, 10, 15, kCamerasPerMux}) {
        const std::string number = std::to_string(c);
        cells.replace(static_cast<std::size_t>((c - 1) * 2), number.size(), number);
    }
    const std::string ruler = "MUX CAMERAS  " + cells;
    lines.push_back(Pad(ruler, 55) + Pad("STATE", 12) + Pad("AGE", 9) + Pad("VERSION", 18) +
                    "CLOCK");
    for (const MuxView& view : muxes) lines.push_back(MuxRow(header, view, colour));
    lines.push_back("");
    lines.push_back(Legend(colour));
    lines.push_back("  last error: " + (lastError.empty() ? std::string("none") : lastError));
    if (!header.lastEvent.empty()) lines.push_back("  last event: " + header.lastEvent);
    if (header.interactive) lines.push_back("  Ctrl-C or q to stop");
    return lines;
}

std::vector<std::string> RenderStatistics(const std::vector<MuxView>& muxes, uint64_t cycles,
                                          double seconds, const std::string& port,
                                          bool lineCounted) {
    std::vector<std::string> lines;
    lines.push_back(Format("--- port %s: %llu %s in %.1f s ---", port.c_str(),
                           static_cast<unsigned long long>(cycles),
                           cycles == 1 ? "cycle" : "cycles", seconds));
    lines.push_back(
        "mux  reads  good  failed   loss  frames  retries  time-outs  bad sums  wrong src  "
        "line loss  state");
    for (const MuxView& view : muxes) {
        const LineCounts& line = view.line;
        auto n = [](uint64_t value) { return static_cast<unsigned long long>(value); };
        // Without the protocol tap nobody counted the frames: no figures, not zeros.
        const std::string lineColumns =
            lineCounted ? Format("%6llu  %7llu  %9llu  %8llu  %9llu  %8.1f%%", n(line.requests),
                                 n(line.retries), n(line.timeouts), n(line.badChecksums),
                                 n(line.wrongSource), LineLossPercent(line))
                        : Format("%6s  %7s  %9s  %8s  %9s  %9s", "-", "-", "-", "-", "-", "-");
        lines.push_back(Format("%3d  %5llu  %4llu  %6llu  %5.1f%%  %s  %s", view.mux,
                               n(view.requests), n(view.good), n(view.errors), LossPercent(view),
                               lineColumns.c_str(), std::string(MuxStateName(view.state)).c_str()));
    }
    return lines;
}

bool TerminalHasColour() {
    if (std::getenv("NO_COLOR") != nullptr) return false;
    if (!StdoutIsTerminal()) return false;
    const char* term = std::getenv("TERM");
    return term != nullptr && std::strcmp(term, "dumb") != 0 && term[0] != '\0';
}

}  // namespace roderavo::tool
