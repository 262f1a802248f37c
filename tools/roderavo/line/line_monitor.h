// What the protocol tap makes of the frames it relays: each request and reply
// described (with the simulator's decoder), retries and time-outs marked, and per
// multiplexer the counts of what went wrong on the line. No I/O here: the tap feeds
// it frames and the time, and prints the lines it returns.
#pragma once

#include <muxsim/frame_reader.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace roderavo::tool {

// What the line did for one multiplexer.
struct LineCounts {
    uint64_t requests = 0;     // request frames put on the line, retries included
    uint64_t retries = 0;      // requests that repeat the one before after it failed
    uint64_t goodReplies = 0;  // replies that answer their request
    uint64_t timeouts = 0;     // requests that got no reply within the read time-out
    uint64_t badChecksums = 0;
    uint64_t wrongSource = 0;  // replies from another multiplexer's address
    uint64_t refused = 0;      // acknowledgements that refuse the command
    uint64_t otherBad = 0;     // wrong command, unframed bytes
};

// The share of requests that did not get a usable reply, in per cent.
double LineLossPercent(const LineCounts& counts);

class LineMonitor {
  public:
    using Clock = std::chrono::steady_clock;

    // The driver waits `timeoutMs` for a reply; the tap calls a request without a reply
    // `graceMs` later a time-out.
    explicit LineMonitor(int timeoutMs, int graceMs = 50);

    // Each returns the trace lines the event deserves (without time stamps).
    std::vector<std::string> Request(const muxsim::TakenFrame& frame, Clock::time_point now);
    std::vector<std::string> Reply(const muxsim::TakenFrame& frame, Clock::time_point now);
    std::vector<std::string> Noise(std::size_t count, bool fromDevice);
    std::vector<std::string> Tick(Clock::time_point now);

    // When Tick has something to say about the pending request, if anything.
    std::optional<Clock::time_point> Deadline() const;
    LineCounts Counts(int mux) const;

  private:
    struct Pending {
        std::vector<uint8_t> bytes;
        int mux = -1;
        uint8_t command = 0;
        bool control = false;
        Clock::time_point sent{};
        bool answered = false;  // a reply of any kind came
        bool good = false;      // and it was usable
        bool timedOut = false;
        int attempt = 1;
    };

    LineCounts* CountsOf(int mux);
    std::string TimeoutLine(const Pending& pending) const;
    // What is wrong with a reply to the pending request, or "" when it answers it.
    std::string Fault(const std::vector<uint8_t>& bytes, bool checksumOk);

    std::chrono::milliseconds timeout_;
    std::chrono::milliseconds grace_;
    std::optional<Pending> pending_;
    bool reportTail_ = false;             // an alarm report's extra byte may follow
    std::array<LineCounts, 6> counts_{};  // multiplexers 0..4, then any other address
};

}  // namespace roderavo::tool
