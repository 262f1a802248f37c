// The pieces of the muxsim command line that need more than a number.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "simulator.h"

namespace muxsim {

// "0,1,2": the multiplexers that are present.
std::optional<std::array<bool, kMuxCount>> ParseMuxList(std::string_view text);
// "23=Alarm", "23=video-loss", "23=0x2E": a camera and its state.
std::optional<std::pair<int, CameraState>> ParseAlarm(std::string_view text);
// "delay:300@0.25", "no-answer", "garbage:5": KIND[:N][@probability]; N is the time in ms of
// split, delay and trickle and the byte count of garbage; without @ the fault strikes always.
std::optional<RandomFault> ParseFaultSpec(std::string_view text);
// How a fault is written, for the refusal of one that is not.
inline constexpr const char* kFaultHelp =
    "give KIND[:N][@P], KIND one of no-answer, bad-checksum, wrong-source, wrong-command, "
    "ack-status, split, delay, trickle (N ms), garbage (N bytes); P the probability per answer, "
    "e.g. no-answer@0.1 or delay:300@0.5";
// "2000-11-06 08:12:33" (or with a T between): the clock bytes.
std::optional<std::array<uint8_t, 8>> ParseClockText(std::string_view text);

}  // namespace muxsim
