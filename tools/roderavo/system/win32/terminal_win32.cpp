// The terminal on Windows: the view stays plain (no alternate screen, no keys),
// and Ctrl-C or Ctrl-Break asks the tool to stop.
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "system/terminal.h"

namespace roderavo::tool {

namespace {

void OnStop(int signal) {
    if (signal == SIGINT && stop::requested != 0 && stop::exitOnSecond != 0) {
        if (const char* note = stop::secondNote) std::fputs(note, stderr);
        std::_Exit(130);
    }
    stop::requested = 1;
    std::signal(signal, OnStop);  // the C run-time resets a handler once it ran
}

}  // namespace

void RequestStop() {
    stop::requested = 1;
}

// In steps of at most 20 ms, the last one no longer than what is left.
bool WaitForStop(std::chrono::steady_clock::time_point until) {
    for (auto now = std::chrono::steady_clock::now(); !StopRequested() && now < until;
         now = std::chrono::steady_clock::now())
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            until - now, std::chrono::milliseconds(20)));
    return StopRequested();
}

void InstallStopSignals() {
    std::signal(SIGINT, OnStop);
    std::signal(SIGTERM, OnStop);
    std::signal(SIGBREAK, OnStop);
}

bool ResizeRequested() {
    return false;
}

bool LiveScreen::Possible() {
    return false;
}

bool LiveScreen::Enter() {
    return false;
}

void LiveScreen::Leave() {
    active_ = false;
}

void LiveScreen::Draw(const std::vector<std::string>&) {}

bool LiveScreen::WaitForQuitKey(int ms) {
    SleepUnlessStopped(ms);
    return false;
}

}  // namespace roderavo::tool
