// A scripted multiplexer on the master side of a pseudo-terminal: for each step it
// reads one request of a known size from the driver and answers with the given
// bytes (or not at all). Everything it took from the line is kept for checks.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "script.h"
#include "support/pty_peer.h"

namespace protocol_test {

class ScriptedPeer {
  public:
    static constexpr bool kVirtualTime = false;

    ScriptedPeer();
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    bool Ok() const { return pty_.Ok(); }
    // What the driver's PortName takes, e.g. "pts/4".
    const std::string& PortName() const { return pty_.PortName(); }

    // Runs the steps on a thread; a previous script is stopped first.
    void Run(std::vector<Step> steps);
    // Stops the script; true when every step ran.
    bool Finish();
    // Writes bytes to the driver now (no script needed).
    bool Send(const Bytes& bytes);
    // Everything read from the line since the last Run (or Take).
    Bytes Received();
    // The requests of the steps that ran, split by their sizes.
    std::vector<Bytes> Requests();

  private:
    void Serve(std::vector<Step> steps);
    bool ReadExactly(std::size_t count, Bytes& into);

    roderavo_test::PtyPeer pty_;  // its slave held open while the driver has no port
    int master_ = -1;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> done_{false};
    std::mutex mutex_;
    Bytes received_;
    std::vector<Bytes> requests_;
};

}  // namespace protocol_test
