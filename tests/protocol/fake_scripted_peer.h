// The scripted multiplexer on a fake line: the same steps as ScriptedPeer, played
// on virtual time. Each step collects one request of a known size from the
// driver's writes and schedules its answer (or none) delayMs after it.
#pragma once

#include <string>
#include <vector>

#include "fake_port/fake_port.h"
#include "script.h"

namespace protocol_test {

class FakeScriptedPeer {
  public:
    static constexpr bool kVirtualTime = true;

    FakeScriptedPeer();

    bool Ok() const { return true; }
    const std::string& PortName() const { return line_.Name(); }

    // Takes the steps; the time and pauses of the exchange count from here.
    void Run(std::vector<Step> steps);
    // Ends the script; true when every step ran.
    bool Finish();
    // Bytes that arrive at the driver now.
    bool Send(const Bytes& bytes);
    // Everything the driver wrote since the last Run.
    Bytes Received() const { return received_; }
    // The requests of the steps that ran.
    std::vector<Bytes> Requests() const { return requests_; }
    // When each write of the driver happened, in virtual ms since the last Run.
    std::vector<fake_port::Ms> WriteTimes() const { return writeTimes_; }

    fake_port::Line& Line() { return line_; }
    // Virtual time and pauses since the last Run.
    const fake_port::Watch& Watch() const { return watch_; }

  private:
    void Take(const Bytes& written);

    fake_port::Line line_{"ttyFake0"};
    std::vector<Step> steps_;
    std::size_t next_ = 0;
    Bytes pending_;  // written, not yet part of a whole request
    Bytes received_;
    std::vector<Bytes> requests_;
    std::vector<fake_port::Ms> writeTimes_;
    fake_port::Watch watch_;
};

}  // namespace protocol_test
