// The five multiplexers' state and their side of the protocol: what each request
// frame changes and which reply it gets. No I/O and no locking here.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "frame.h"
#include "mux_clock.h"

namespace muxsim {

struct Answer {
    Bytes reply;
    int mux = 0;
    bool acknowledgement = false;
};

class Device {
  public:
    explicit Device(const Options& options, MuxClock::Steady::time_point now);

    // The answer to one frame taken from the line, or nothing when the multiplexers stay
    // silent (bad checksum, unknown destination, absent multiplexer, unknown command or a
    // payload of the wrong size).
    std::optional<Answer> Handle(std::span<const uint8_t> frame, MuxClock::Steady::time_point now);

    std::array<std::string, kMuxCount> version;
    std::array<bool, kMuxCount> present{};
    std::array<uint8_t, kCameraCount + 1> state{};      // index = camera 1..100
    std::array<uint8_t, kCameraCount + 1> videoLoss{};  // index = camera 1..100
    std::array<MuxClock, kMuxCount> clock;

  private:
    std::optional<Answer> Status(int mux, uint8_t command, std::span<const uint8_t> payload,
                                 MuxClock::Steady::time_point now);
    std::optional<Answer> Control(int mux, uint8_t command, std::span<const uint8_t> payload,
                                  MuxClock::Steady::time_point now);
};

}  // namespace muxsim
