// The terminal on Windows: the view stays plain (no alternate screen, no keys),
// and Ctrl-C or Ctrl-Break asks the tool to stop.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <csignal>

#include "terminal.h"

namespace roderavo::tool {

namespace {

volatile std::sig_atomic_t gStop = 0;

void OnStop(int) {
    gStop = 1;
}

}  // namespace

void InstallStopSignals() {
    std::signal(SIGINT, OnStop);
    std::signal(SIGTERM, OnStop);
    std::signal(SIGBREAK, OnStop);
}

bool StopRequested() {
    return gStop != 0;
}

void RequestStop() {
    gStop = 1;
}

bool ResizeRequested() {
    return false;
}

bool LiveScreen::Enter() {
    return false;  // the plain view
}

void LiveScreen::Leave() {
    active_ = false;
}

void LiveScreen::Draw(const std::vector<std::string>&) {}

bool LiveScreen::WaitForQuitKey(int ms) {
    SleepUnlessStopped(ms);
    return false;
}

void SleepUnlessStopped(int ms) {
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(ms < 0 ? 0 : ms);
    while (!StopRequested() && GetTickCount64() < end) Sleep(20);
}

}  // namespace roderavo::tool
