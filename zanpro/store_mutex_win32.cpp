// The store's lock on Win32: a slim reader/writer lock, taken exclusively.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "store_mutex.h"

namespace zanpro {

static_assert(sizeof(SRWLOCK) == sizeof(void*), "an SRWLOCK is one pointer");

void StoreMutex::lock() {
    AcquireSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&lock_));
}

void StoreMutex::unlock() {
    ReleaseSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&lock_));
}

}  // namespace zanpro
