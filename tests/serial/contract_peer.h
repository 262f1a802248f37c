// The device side of the port contract, one per backend: a pseudo-terminal for
// the POSIX backend (contract_peer_pty.cpp), a fake line for the fake backend
// (contract_peer_fake.cpp). The contract suite is built once with each.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace contract_test {

using Bytes = std::vector<uint8_t>;

class ContractPeer {
  public:
    ContractPeer();
    ~ContractPeer();
    ContractPeer(const ContractPeer&) = delete;
    ContractPeer& operator=(const ContractPeer&) = delete;

    // Whether the device keeps data bits and parity (a pseudo-terminal always
    // reports 8 data bits without parity).
    static const bool kKeepsCharacterFormat;
    // Whether the clock below is virtual, so that waits can be asserted exactly.
    static const bool kExactTime;

    bool Ok() const;
    std::string PortName() const;
    // What the device sends to the port: now, or that many milliseconds later.
    bool Send(const Bytes& bytes);
    void SendAfter(int milliseconds, const Bytes& bytes);
    // What the port wrote: count bytes, waiting a bounded time for them.
    Bytes Receive(std::size_t count);
    // The device goes away.
    void Vanish();
    // The clock the port's time-outs run on, in milliseconds.
    int64_t NowMs() const;

  private:
    struct Device;
    std::unique_ptr<Device> device_;
};

}  // namespace contract_test
