#include "line/line_monitor.h"

#include <muxsim/frame.h>

#include <cstdio>

#include "address/camera_range.h"

namespace roderavo::tool {

namespace {

constexpr int kAttempts = RODERAVO_ATTEMPTS;  // the driver's attempts of one exchange
constexpr std::size_t kOtherAddress = kMuxCount;

std::string Hex(uint8_t byte) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", byte);
    return text;
}

std::string MuxText(int mux) {
    return mux >= 0 ? "mux " + std::to_string(mux) : "no multiplexer";
}

}  // namespace

double LineLossPercent(const LineCounts& counts) {
    if (counts.requests == 0) return 0.0;
    const uint64_t lost =
        counts.requests > counts.goodReplies ? counts.requests - counts.goodReplies : 0;
    return 100.0 * static_cast<double>(lost) / static_cast<double>(counts.requests);
}

LineMonitor::LineMonitor(int timeoutMs, int graceMs) : timeout_(timeoutMs), grace_(graceMs) {}

LineCounts* LineMonitor::CountsOf(int mux) {
    return &counts_[mux >= 0 && mux < kMuxCount ? static_cast<std::size_t>(mux) : kOtherAddress];
}

LineCounts LineMonitor::Counts(int mux) const {
    return counts_[mux >= 0 && mux < kMuxCount ? static_cast<std::size_t>(mux) : kOtherAddress];
}

std::string LineMonitor::TimeoutLine(const Pending& pending) const {
    return "   time-out: no reply from " + MuxText(pending.mux) + " within " +
           std::to_string(timeout_.count()) + " ms";
}

std::vector<std::string> LineMonitor::Request(const muxsim::TakenFrame& frame,
                                              Clock::time_point now) {
    std::vector<std::string> lines;
    // The driver gave up waiting before the tap's own clock said so.
    if (pending_ && !pending_->answered && !pending_->timedOut) {
        ++CountsOf(pending_->mux)->timeouts;
        lines.push_back(TimeoutLine(*pending_));
    }
    const muxsim::FrameFacts facts = muxsim::DecodeFrame(frame.bytes);
    Pending next;
    next.bytes = frame.bytes;
    next.mux = facts.mux;
    next.command = facts.command;
    next.control = facts.control;
    next.sent = now;
    if (pending_ && !pending_->good && pending_->bytes == frame.bytes)
        next.attempt = pending_->attempt + 1;
    LineCounts* counts = CountsOf(next.mux);
    ++counts->requests;
    std::string line = "-> " + muxsim::DescribeFrame(frame.bytes);
    if (next.attempt > 1) {
        ++counts->retries;
        line += "  [retry: attempt " + std::to_string(next.attempt) + " of " +
                std::to_string(kAttempts) + "]";
    }
    lines.push_back(line);
    pending_ = next;
    reportTail_ = false;
    return lines;
}

std::string LineMonitor::Fault(const std::vector<uint8_t>& bytes, bool checksumOk) {
    const muxsim::FrameFacts facts = muxsim::DecodeFrame(bytes);
    LineCounts* counts = CountsOf(pending_->mux);
    if (!checksumOk || !facts.framed) {
        ++counts->badChecksums;
        return "bad checksum";
    }
    if (facts.mux != pending_->mux) {
        ++counts->wrongSource;
        return "wrong source: " + MuxText(facts.mux) + " answered a request to " +
               MuxText(pending_->mux);
    }
    const uint8_t expected = pending_->control ? muxsim::kAckCommand : pending_->command;
    if (facts.command != expected) {
        ++counts->otherBad;
        return "wrong command 0x" + Hex(facts.command) + ", expected 0x" + Hex(expected);
    }
    if (pending_->control && !facts.payload.empty() && facts.payload[0] != 0) {
        ++counts->refused;
        return "the multiplexer refused the command";
    }
    return "";
}

std::vector<std::string> LineMonitor::Reply(const muxsim::TakenFrame& frame, Clock::time_point) {
    std::string line = "<- " + muxsim::DescribeFrame(frame.bytes);
    if (!pending_ || pending_->answered) {
        ++CountsOf(muxsim::DecodeFrame(frame.bytes).mux)->otherBad;
        return {line + "  [unexpected: no request waits for it]"};
    }
    pending_->answered = true;
    if (pending_->timedOut) return {line + "  [late: after the time-out]"};
    const std::string fault = Fault(frame.bytes, frame.checksumOk);
    if (!fault.empty()) return {line + "  [" + fault + "]"};
    pending_->good = true;
    ++CountsOf(pending_->mux)->goodReplies;
    const muxsim::FrameFacts facts = muxsim::DecodeFrame(frame.bytes);
    reportTail_ = facts.command == muxsim::kCmdAls && frame.bytes[1] >= muxsim::kAlarmReportLength;
    return {line};
}

std::vector<std::string> LineMonitor::Noise(std::size_t count, bool fromDevice) {
    // The alarm report is followed by one byte beyond its announced length.
    if (fromDevice && reportTail_ && count == 1) {
        reportTail_ = false;
        return {};
    }
    ++CountsOf(pending_ ? pending_->mux : -1)->otherBad;
    return {std::string(fromDevice ? "<- " : "-> ") + "noise: " + std::to_string(count) +
            " bytes outside any frame"};
}

std::optional<LineMonitor::Clock::time_point> LineMonitor::Deadline() const {
    if (!pending_ || pending_->answered || pending_->timedOut) return std::nullopt;
    return pending_->sent + timeout_ + grace_;
}

std::vector<std::string> LineMonitor::Tick(Clock::time_point now) {
    const auto deadline = Deadline();
    if (!deadline || now < *deadline) return {};
    pending_->timedOut = true;
    ++CountsOf(pending_->mux)->timeouts;
    return {TimeoutLine(*pending_)};
}

}  // namespace roderavo::tool
