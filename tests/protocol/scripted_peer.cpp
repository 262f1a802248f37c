#include "scripted_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace protocol_test {

namespace {

constexpr int kStepWaitMs = 3000;  // the longest a step waits for its request

}  // namespace

ScriptedPeer::ScriptedPeer() : master_(pty_.MasterFd()) {
    if (master_ >= 0) fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

ScriptedPeer::~ScriptedPeer() {
    Finish();
}

void ScriptedPeer::Run(std::vector<Step> steps) {
    Finish();
    {
        std::lock_guard lock(mutex_);
        received_.clear();
        requests_.clear();
    }
    stop_ = false;
    done_ = false;
    thread_ = std::thread([this, s = std::move(steps)]() mutable { Serve(std::move(s)); });
}

bool ScriptedPeer::Finish() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    return done_;
}

bool ScriptedPeer::Send(const Bytes& bytes) {
    return roderavo_test::WriteAll(master_, bytes);
}

Bytes ScriptedPeer::Received() {
    std::lock_guard lock(mutex_);
    return received_;
}

std::vector<Bytes> ScriptedPeer::Requests() {
    std::lock_guard lock(mutex_);
    return requests_;
}

bool ScriptedPeer::ReadExactly(std::size_t count, Bytes& into) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStepWaitMs);
    while (into.size() < count) {
        uint8_t buffer[256];
        const std::size_t want = std::min(sizeof buffer, count - into.size());
        const ssize_t n = read(master_, buffer, want);
        if (n > 0) {
            for (ssize_t i = 0; i < n; ++i) into.push_back(buffer[i]);
            std::lock_guard lock(mutex_);
            for (ssize_t i = 0; i < n; ++i) received_.push_back(buffer[i]);
            continue;
        }
        if (stop_ || std::chrono::steady_clock::now() > deadline) return false;
        pollfd p{master_, POLLIN, 0};
        poll(&p, 1, 10);
    }
    return true;
}

void ScriptedPeer::Serve(std::vector<Step> steps) {
    for (const Step& step : steps) {
        Bytes request;
        if (!ReadExactly(step.requestSize, request)) return;
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(request);
        }
        if (step.delayMs != 0) std::this_thread::sleep_for(std::chrono::milliseconds(step.delayMs));
        if (!step.reply.empty() && !Send(step.reply)) return;
    }
    done_ = true;
    // Keep what the driver sends after the script, until stopped.
    while (true) {
        Bytes extra;
        if (!ReadExactly(1, extra) && stop_) return;
    }
}

}  // namespace protocol_test
