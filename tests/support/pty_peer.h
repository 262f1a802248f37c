// The pseudo-terminal a test plays a device on: the driver (or the tool, or the
// simulator) opens the slave side by its port name, the test reads and writes the
// master side. Every wait is bounded.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace roderavo_test {

using Bytes = std::vector<uint8_t>;

// Writes all bytes to fd; on a non-blocking fd it waits up to waitMs for room.
bool WriteAll(int fd, const Bytes& bytes, int waitMs = 1000);
// Reads from fd until count bytes came, the time-out passed or the line ended.
Bytes ReadFor(int fd, std::size_t count, std::chrono::milliseconds timeout);

// Milliseconds since start, for bounds on how long the port waited.
inline long MsSince(std::chrono::steady_clock::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count());
}

class PtyPeer {
  public:
    PtyPeer();
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    bool Ok() const { return master_ >= 0; }
    // The port name the driver is given ("pts/3"), and the full device path.
    const std::string& PortName() const { return portName_; }
    const std::string& Path() const { return path_; }
    int MasterFd() const { return master_; }

    // What the device sends to the port.
    bool Send(const Bytes& bytes) { return WriteAll(master_, bytes); }
    // Reads what the port wrote, waiting up to timeoutMs for count bytes.
    Bytes Receive(std::size_t count, int timeoutMs = 2000) {
        return ReadFor(master_, count, std::chrono::milliseconds(timeoutMs));
    }
    // Waits until the port's input queue (seen through a descriptor of the
    // slave) holds count bytes.
    bool WaitQueued(int slaveFd, int count, int timeoutMs = 2000);
    // The device vanishes: the master side closes.
    void Vanish();
    // The test lets go of the slave side: the line ends once the port closes too.
    void ReleaseSlave();

  private:
    int master_ = -1;
    int slave_ = -1;  // kept open so the line stays up between the driver's opens
    std::string path_;
    std::string portName_;
};

}  // namespace roderavo_test
