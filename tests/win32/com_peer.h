// The device end of the serial contract on Windows: the far end of a null-modem
// cable between two COM ports. The port under test and the peer's port are named
// by RODERAVO_TEST_PORT and RODERAVO_TEST_PEER (under wine, two pseudo-terminals
// joined by tests/win32/null_modem and mapped as COM ports by the harness).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace roderavo_test {

using Bytes = std::vector<uint8_t>;

inline long MsSince(std::chrono::steady_clock::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count());
}

// True when the program runs under wine rather than on Windows.
bool UnderWine();

class ComPeer {
  public:
    ComPeer();
    ~ComPeer();
    ComPeer(const ComPeer&) = delete;
    ComPeer& operator=(const ComPeer&) = delete;

    bool Ok() const { return peer_ != nullptr; }
    // The name the port under test is opened by ("COM5").
    const std::string& PortName() const { return portName_; }

    bool Send(const Bytes& bytes);
    // Sends the bytes from another thread after the delay; waited for by the
    // next call or the destructor.
    void SendAfter(std::chrono::milliseconds delay, const Bytes& bytes);
    Bytes Receive(std::size_t count, int timeoutMs = 2000);

  private:
    friend unsigned long __stdcall SendLaterThread(void* peer);
    void JoinLater();
    void* peer_ = nullptr;   // the peer port's HANDLE
    void* later_ = nullptr;  // the thread of SendAfter
    std::string portName_;
    Bytes laterBytes_;
    unsigned long laterMs_ = 0;
};

}  // namespace roderavo_test
