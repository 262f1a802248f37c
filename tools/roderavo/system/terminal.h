// The terminal of the live view: the alternate screen without cursor and echo while
// the view runs, restored on every way out (normal end, Ctrl-C, a second Ctrl-C).
// Also the stop request from SIGINT, SIGTERM and SIGHUP.
#pragma once

#include <atomic>
#include <chrono>
#include <csignal>
#include <string>
#include <vector>

namespace roderavo::tool {

// SIGINT, SIGTERM and SIGHUP ask the tool to stop; a second SIGINT while the
// terminal is taken restores it and ends the process at once.
void InstallStopSignals();
bool ResizeRequested();  // and clears the request

// The stop request, set by the signal handlers of each platform's terminal file.
namespace stop {
// Read by other threads than the one a handler runs on (the bridge's watcher): an
// atomic, which being lock-free is as safe in a handler as a sig_atomic_t.
inline std::atomic<int> requested = 0;
static_assert(std::atomic<int>::is_always_lock_free);
inline volatile std::sig_atomic_t exitOnSecond = 0;  // a second SIGINT ends the process
inline const char* volatile secondNote = nullptr;    // and says this on stderr
// Called by the handler before a second SIGINT ends the process at once: puts back
// what the tool changed on its lines (the protocol tap sets it). Async-signal-safe.
inline void (*volatile beforeQuickEnd)() = nullptr;
}  // namespace stop

inline bool StopRequested() {
    return stop::requested != 0;
}
// Asks the tool to stop, as a signal does: every WaitForStop returns.
void RequestStop();
// Waits until a stop is requested or `until` has come, without waking in between;
// true when a stop was requested.
bool WaitForStop(std::chrono::steady_clock::time_point until);

// While the tool waits for the driver to finish an exchange, a second SIGINT ends it
// at once (exit code 130), with `note` on stderr if given.
inline void ExitOnSecondInterrupt(bool exit, const char* note = nullptr) {
    stop::secondNote = note;
    stop::exitOnSecond = exit ? 1 : 0;
}

class LiveScreen {
  public:
    // Whether stdout can take the live screen (a terminal; never on Windows, where
    // the view stays plain).
    static bool Possible();
    LiveScreen() = default;
    ~LiveScreen() { Leave(); }
    LiveScreen(const LiveScreen&) = delete;
    LiveScreen& operator=(const LiveScreen&) = delete;

    bool Enter();  // false when stdin/stdout is not a terminal
    void Leave();
    void Draw(const std::vector<std::string>& lines);
    // Waits up to `ms` for a key; true when the user asked to quit (q, Q, Esc).
    bool WaitForQuitKey(int ms);

  private:
    bool active_ = false;
};

// The line cut to `width` columns; escape sequences are kept and take no column.
std::string CutToWidth(const std::string& line, std::size_t width);

// Sleeps up to `ms`, returning early when a stop is requested.
inline void SleepUnlessStopped(int ms) {
    WaitForStop(std::chrono::steady_clock::now() + std::chrono::milliseconds(ms));
}

}  // namespace roderavo::tool
