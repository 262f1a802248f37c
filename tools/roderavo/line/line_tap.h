// The protocol tap: the tool holds the real port itself and gives the driver a
// pseudo-terminal whose bytes it relays both ways, so that every frame on the line
// can be shown (with --trace) and counted per multiplexer, retries and time-outs
// included, which the driver's results hide.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "line/driver.h"
#include "line/line_monitor.h"

namespace roderavo::tool {

class LineTap {
  public:
    // Receives each trace line, time-stamped; called on the tap's thread.
    using Sink = std::function<void(const std::string&)>;

    LineTap();
    ~LineTap();  // stops
    LineTap(const LineTap&) = delete;
    LineTap& operator=(const LineTap&) = delete;

    // Opens `devicePath` for exclusive use with the line settings and starts relaying
    // it to a new pty; false with the reason when the device cannot be used.
    bool Start(const std::string& devicePath, const LineSettings& line, int timeoutMs, Sink sink,
               std::string* error);
    // The pty for the driver's PortName ("pts/7").
    std::string PortName() const;
    void Stop();

    LineCounts Counts(int mux) const;

    class Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace roderavo::tool
