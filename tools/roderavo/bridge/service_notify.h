// What the bridge tells systemd when it runs as a Type=notify service: ready once the
// line is open and the first poll cycle ran, alive while poll cycles run (the watchdog),
// stopping at the end. Only the polling thread calls it, so a poll that hangs stops the
// petting and systemd restarts the bridge. Without NOTIFY_SOCKET nothing is sent.
#pragma once

#include <chrono>
#include <optional>

namespace roderavo::tool::bridge {

class ServiceNotifier {
  public:
    using Clock = std::chrono::steady_clock;

    // Learns the watchdog's interval (WATCHDOG_USEC), if systemd set one.
    ServiceNotifier();

    // After a poll cycle and while waiting for the next: READY=1 the first time,
    // WATCHDOG=1 when a quarter of the interval has passed since the last.
    void PollRan(Clock::time_point now);
    // When the next pet is due (a resting poll wakes for it); never without a watchdog.
    Clock::time_point NextPet() const {
        return petEvery_ ? petted_ + *petEvery_ : Clock::time_point::max();
    }
    // STOPPING=1, once the loop has ended.
    void Stopping();

  private:
    bool ready_ = false;
    std::optional<Clock::duration> petEvery_;
    Clock::time_point petted_{};
};

}  // namespace roderavo::tool::bridge
