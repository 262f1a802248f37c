// The lock of the store. Where the C++ library has std::mutex it is that; with
// the win32 thread model of mingw-w64 (no std::mutex) it is a Win32 slim
// reader/writer lock behind the same lock()/unlock() pair.
#pragma once

#include <mutex>

namespace zanpro {

#if defined(_WIN32) && !defined(_GLIBCXX_HAS_GTHREADS)
class StoreMutex {
  public:
    StoreMutex() = default;
    StoreMutex(const StoreMutex&) = delete;
    StoreMutex& operator=(const StoreMutex&) = delete;
    void lock();
    void unlock();

  private:
    void* lock_ = nullptr;  // the SRWLOCK, one pointer wide, zero when unlocked
};
#else
using StoreMutex = std::mutex;
#endif

}  // namespace zanpro
