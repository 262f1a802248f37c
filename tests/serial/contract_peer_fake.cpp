// The contract's device on a fake line, on virtual time.
#include "fake_port/fake_port.h"
#include "serial/contract_peer.h"

namespace contract_test {

const bool ContractPeer::kKeepsCharacterFormat = true;
const ContractPeer::Differences ContractPeer::kDifferences{};
const bool ContractPeer::kExactTime = true;

struct ContractPeer::Device {
    fake_port::Line line{"ttyFake0"};
    std::size_t taken = 0;  // written bytes already received
};

ContractPeer::ContractPeer() : device_(std::make_unique<Device>()) {}

ContractPeer::~ContractPeer() = default;

bool ContractPeer::Ok() const {
    return true;
}

std::string ContractPeer::PortName() const {
    return device_->line.Name();
}

bool ContractPeer::Send(const Bytes& bytes) {
    device_->line.Send(bytes);
    return true;
}

void ContractPeer::SendAfter(int milliseconds, const Bytes& bytes) {
    device_->line.Arrive(bytes, fake_port::Now() + static_cast<fake_port::Ms>(milliseconds));
}

Bytes ContractPeer::Receive(std::size_t count) {
    const Bytes all = device_->line.Written();
    const std::size_t from = std::min(device_->taken, all.size());
    const std::size_t n = std::min(count, all.size() - from);
    device_->taken = from + n;
    return Bytes(all.begin() + static_cast<long>(from), all.begin() + static_cast<long>(from + n));
}

void ContractPeer::Vanish() {
    device_->line.Vanish();
}

int64_t ContractPeer::NowMs() const {
    return static_cast<int64_t>(fake_port::Now());
}

}  // namespace contract_test
