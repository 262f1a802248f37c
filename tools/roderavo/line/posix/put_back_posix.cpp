#include "line/posix/put_back_posix.h"

#include <pthread.h>
#include <time.h>

#include <array>

#include "system/terminal.h"

namespace roderavo::tool {

namespace {

constexpr std::size_t kMaxSlots = 4;
std::array<Taken, kMaxSlots> gTaken;

// The signals that would end the process where nothing else handles them.
constexpr std::array<int, 5> kEndingSignals{SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};

// The line settings as found, then the claim (TIOCEXCL cleared, our lock file
// removed); async-signal-safe.
void PutBackAtOnce(const Taken& slot) {
    if (slot.haveFound) tcsetattr(slot.claim.fd, TCSANOW, &slot.found);
    posix::ReleaseClaimAtOnce(slot.claim);
}

// From a signal handler, before the process ends: every device put back, and the
// driver's lock file on a tap's pty removed (it would name a pid that has ended). A
// slot that another thread is putting back is waited for a moment.
void PutBackAllAtOnce() {
    for (Taken& slot : gTaken) {
        int expected = Taken::kHeld;
        if (slot.state.compare_exchange_strong(expected, Taken::kGivingBack)) {
            PutBackAtOnce(slot);
            posix::ReleaseLock(slot.ptyLock);
            continue;
        }
        for (int wait = 0; wait < 100 && slot.state.load() == Taken::kGivingBack; ++wait) {
            const timespec pause{0, 10 * 1000 * 1000};
            nanosleep(&pause, nullptr);
        }
    }
}

void PutBackThenEnd(int signal) {
    PutBackAllAtOnce();
    ::signal(signal, SIG_DFL);
    raise(signal);  // delivered as the default once the handler returns
}

void GuardEndingSignals() {
    stop::beforeQuickEnd = &PutBackAllAtOnce;
    for (const int signal : kEndingSignals) {
        struct sigaction current {};
        if (sigaction(signal, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) continue;
        struct sigaction guard {};
        guard.sa_handler = PutBackThenEnd;
        sigemptyset(&guard.sa_mask);
        sigaction(signal, &guard, nullptr);
    }
}

}  // namespace

Taken* TakeSlot() {
    for (Taken& slot : gTaken) {
        int expected = Taken::kFree;
        if (slot.state.compare_exchange_strong(expected, Taken::kFilling)) return &slot;
    }
    return nullptr;
}

void PublishSlot(Taken& slot) {
    slot.state.store(Taken::kHeld);
    GuardEndingSignals();
}

bool WithdrawSlot(Taken& slot) {
    int expected = Taken::kHeld;
    return slot.state.compare_exchange_strong(expected, Taken::kGivingBack) ||
           expected == Taken::kFilling;
}

void FreeSlot(Taken& slot) {
    slot.claim = posix::DeviceClaim{};
    slot.haveFound = false;
    slot.ptyLock.fill('\0');
    slot.state.store(Taken::kFree);
}

SignalsHeld::SignalsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (const int signal : kEndingSignals) sigaddset(&held, signal);
    pthread_sigmask(SIG_BLOCK, &held, &saved_);
}

SignalsHeld::~SignalsHeld() {
    pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
}

}  // namespace roderavo::tool
