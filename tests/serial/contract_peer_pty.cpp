// The contract's device on a pseudo-terminal, on wall-clock time.
#include <chrono>
#include <thread>

#include "serial/contract_peer.h"
#include "support/pty_peer.h"

namespace contract_test {

const bool ContractPeer::kKeepsCharacterFormat = false;
const ContractPeer::Differences ContractPeer::kDifferences{};
const bool ContractPeer::kExactTime = false;

struct ContractPeer::Device {
    roderavo_test::PtyPeer pty;
    std::vector<std::thread> later;  // joined before the pty goes
};

ContractPeer::ContractPeer() : device_(std::make_unique<Device>()) {}

ContractPeer::~ContractPeer() {
    for (std::thread& thread : device_->later) thread.join();
}

bool ContractPeer::Ok() const {
    return device_->pty.Ok();
}

std::string ContractPeer::PortName() const {
    return device_->pty.PortName();
}

bool ContractPeer::Send(const Bytes& bytes) {
    return device_->pty.Send(bytes);
}

void ContractPeer::SendAfter(int milliseconds, const Bytes& bytes) {
    device_->later.emplace_back([this, milliseconds, bytes] {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        device_->pty.Send(bytes);
    });
}

Bytes ContractPeer::Receive(std::size_t count) {
    return device_->pty.Receive(count);
}

void ContractPeer::Vanish() {
    device_->pty.Vanish();
}

int64_t ContractPeer::NowMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace contract_test
