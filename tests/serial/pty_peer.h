// A pseudo-terminal whose slave side the driver opens as its port, while the test
// plays the device on the master side.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace roderavo_test {

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
    bool Send(const std::vector<uint8_t>& bytes);
    // Reads what the port wrote, waiting up to timeoutMs for count bytes.
    std::vector<uint8_t> Receive(std::size_t count, int timeoutMs = 2000);
    // Waits until the port's input queue (seen through a descriptor of the
    // slave) holds count bytes.
    bool WaitQueued(int slaveFd, int count, int timeoutMs = 2000);
    // The device vanishes: the master side closes.
    void Vanish();

  private:
    int master_ = -1;
    int slave_ = -1;  // kept open so the line stays up between the driver's opens
    std::string path_;
    std::string portName_;
};

}  // namespace roderavo_test
