#include "fake_scripted_peer.h"

namespace protocol_test {

FakeScriptedPeer::FakeScriptedPeer() {
    line_.OnWrite([this](const Bytes& written) { Take(written); });
}

void FakeScriptedPeer::Run(std::vector<Step> steps) {
    steps_ = std::move(steps);
    next_ = 0;
    pending_.clear();
    received_.clear();
    requests_.clear();
    writeTimes_.clear();
    watch_ = fake_port::Watch();
}

bool FakeScriptedPeer::Finish() {
    const bool done = next_ == steps_.size();
    steps_.clear();
    next_ = 0;
    return done;
}

bool FakeScriptedPeer::Send(const Bytes& bytes) {
    line_.Send(bytes);
    return true;
}

void FakeScriptedPeer::Take(const Bytes& written) {
    writeTimes_.push_back(watch_.Elapsed());
    received_.insert(received_.end(), written.begin(), written.end());
    if (next_ == steps_.size()) return;
    pending_.insert(pending_.end(), written.begin(), written.end());
    while (next_ < steps_.size() && pending_.size() >= steps_[next_].requestSize) {
        const Step& step = steps_[next_++];
        const auto size = static_cast<long>(step.requestSize);
        requests_.emplace_back(pending_.begin(), pending_.begin() + size);
        pending_.erase(pending_.begin(), pending_.begin() + size);
        line_.Arrive(step.reply, fake_port::Now() + step.delayMs);
    }
}

}  // namespace protocol_test
