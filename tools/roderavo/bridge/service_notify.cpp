// The one file that speaks to systemd (libsystemd's sd_notify).
#include "bridge/service_notify.h"

#include <systemd/sd-daemon.h>

#include <cstdint>

namespace roderavo::tool::bridge {

ServiceNotifier::ServiceNotifier() {
    uint64_t usec = 0;
    // A quarter of the interval: a pet comes at the latest that long after the last
    // plus one cycle, and the unit's WatchdogSec holds the longest cycle with room.
    if (sd_watchdog_enabled(0, &usec) > 0 && usec > 0)
        petEvery_ = std::chrono::microseconds(usec / 4);
}

void ServiceNotifier::PollRan(Clock::time_point now) {
    if (!ready_) {
        sd_notify(0, "READY=1");
        ready_ = true;
    }
    if (!petEvery_ || now - petted_ < *petEvery_) return;
    sd_notify(0, "WATCHDOG=1");
    petted_ = now;
}

void ServiceNotifier::Stopping() {
    sd_notify(0, "STOPPING=1");
}

}  // namespace roderavo::tool::bridge
