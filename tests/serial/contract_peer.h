// The device side of the port contract, one per backend: a pseudo-terminal for
// the POSIX backend (contract_peer_pty.cpp), a fake line for the fake backend
// (contract_peer_fake.cpp), the far end of a null-modem cable between two COM
// ports for the Win32 backend (tests/win32/contract_peer_com.cpp). The contract
// suite is built once with each.
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
    // Where the backend or its device does otherwise than the others, by name.
    struct Differences {
        bool takesASecondOpen = false;          // wine: a second exclusive open of a COM port
        bool readsControlLinesOn = false;       // wine: DTR and RTS read back on, always
        bool readsSomeSpeedsAs38400 = false;    // wine: 14400, for one
        bool takesOneAndAHalfStopBits = false;  // wine, with 8 data bits
        bool takesDtrHandshake = false;         // Windows has it, termios has not
        bool takesSpeedZero = false;            // wine
        bool cannotVanish = false;  // a cable between two COM ports, not pulled from inside
    };
    static const Differences kDifferences;

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
