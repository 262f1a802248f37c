// The clock of one multiplexer: eight BCD bytes (year in century, century, month, day,
// day of week, hour, minute, second) that move on with the time that passes, unless the
// clock is frozen or was set to bytes that are no date.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <optional>

#include "simulator.h"

namespace muxsim {

using ClockBytesArray = std::array<uint8_t, 8>;

// The bytes of a broken-down time; day of week 1 is Sunday.
ClockBytesArray EncodeClock(const std::tm& time);
// The broken-down time of valid BCD bytes, else nothing.
std::optional<std::tm> DecodeClock(const ClockBytesArray& bytes);
// The time as given with its day of week, if the date and time exist.
std::optional<std::tm> CompleteClock(const std::tm& time);
// The local time now as clock bytes.
ClockBytesArray LocalClockNow();

class MuxClock {
  public:
    using Steady = std::chrono::steady_clock;

    void Set(const ClockBytesArray& bytes, Steady::time_point now);
    void SetMode(ClockMode mode, Steady::time_point now);
    ClockBytesArray Read(Steady::time_point now) const;

  private:
    ClockBytesArray base_{};
    Steady::time_point since_{};
    ClockMode mode_ = ClockMode::Running;
};

}  // namespace muxsim
