// What the tool changed on its devices, kept where a signal handler can put it back
// before the process ends at once: a claim (a lock file, TIOCEXCL) and the line
// settings as they were found. The protocol tap keeps what it took on the device
// there, and the port guard what the driver took on a port it holds itself.
//
// A slot is published (state kHeld) only when whole; whoever moves it from kHeld
// to kGivingBack puts it back, once: a signal handler, or the thread that gives the
// device back in order (with the ending signals held off it meanwhile).
#pragma once

#include <signal.h>
#include <termios.h>

#include <atomic>

#include "serial/posix/device_claim.h"

namespace roderavo::tool {

struct Taken {
    static constexpr int kFree = 0, kFilling = 1, kHeld = 2, kGivingBack = 3;
    std::atomic<int> state{kFree};
    posix::DeviceClaim claim;
    termios found{};
    bool haveFound = false;
    posix::LockPath ptyLock{};  // the driver's lock file on the tap's pty
};
static_assert(std::atomic<int>::is_always_lock_free);

// A free slot, now kFilling and this thread's; nullptr when all are in use.
Taken* TakeSlot();

// Publishes the filled slot (kHeld), and from then on a signal that would end the
// process as it stands (a command that does not stop gracefully, such as read) first
// puts back every published slot; the stop handlers of the commands that have them
// (terminal.h) do it on their quick way out.
void PublishSlot(Taken& slot);

// Takes the slot back from the handlers for the thread that gives the device back:
// true when it now may (it was kHeld or kFilling), false when a handler has it (the
// process ends). Then FreeSlot.
bool WithdrawSlot(Taken& slot);
void FreeSlot(Taken& slot);

// Keeps the ending signals off this thread while it puts a device back, so that a
// handler never interrupts it half way (a handler on another thread waits for it).
class SignalsHeld {
  public:
    SignalsHeld();
    ~SignalsHeld();
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

  private:
    sigset_t saved_{};
};

}  // namespace roderavo::tool
