// The commands the driver sends: the frame details and value rules that go with
// each command word. The command codes and address positions come from the
// address rules.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "address/address_rules.h"

namespace roderavo {

// Status requests: one frame, answered by a status reply with the same command.
struct StatusCommand {
    CommandMnemonic mnemonic;
    uint8_t lengthByte;
    bool cameraPayload;  // one payload byte: the camera number
};

inline constexpr uint8_t kCommandVersion = CommandCode(CommandMnemonic::Ver);
inline constexpr uint8_t kCommandAlarmState = CommandCode(CommandMnemonic::Als);
inline constexpr uint8_t kCommandAlarmStates = CommandCode(CommandMnemonic::Aas);
inline constexpr uint8_t kCommandVideoLoss = CommandCode(CommandMnemonic::Vls);
inline constexpr uint8_t kCommandClock = CommandCode(CommandMnemonic::Tad);

inline constexpr std::array<StatusCommand, 5> kStatusCommands = {{
    {CommandMnemonic::Ver, 6, false},
    {CommandMnemonic::Als, 7, true},
    {CommandMnemonic::Aas, 6, false},
    {CommandMnemonic::Vls, 6, false},
    {CommandMnemonic::Tad, 6, false},
}};

// Single-frame control requests.
struct ControlCommand {
    CommandMnemonic mnemonic;
    // The acknowledgement comes from the multiplexer the frame was addressed to
    // (CAA picks it with the written number), not from the gate's plcNum.
    bool ackFromAddressedMux;
};

inline constexpr std::array<ControlCommand, 6> kControlCommands = {{
    {CommandMnemonic::Key, false},
    {CommandMnemonic::Ptz, false},
    {CommandMnemonic::Caa, true},
    {CommandMnemonic::Ihk, false},
    {CommandMnemonic::Tad, false},
    {CommandMnemonic::Joy, false},
}};

// IHK: one to four key codes.
inline constexpr std::size_t kIhkMaxKeys = 4;

// PTZ codes: 0..29 and 128..135.
inline constexpr uint16_t kPtzLowMax = 29;
inline constexpr uint16_t kPtzHighMin = 128;
inline constexpr uint16_t kPtzHighMax = 135;
// CAA: multiplexer 0..4.
inline constexpr uint16_t kCaaMaxMux = kMuxCount - 1;
// JOY: three values -100..100.
inline constexpr int32_t kJoyLimit = 100;
inline constexpr std::size_t kJoyValues = 3;

// TAD write: a text of exactly 21 characters with five commas.
inline constexpr std::size_t kTadTextLength = 21;
inline constexpr std::size_t kTadCommas = 5;
inline constexpr uint8_t kTadFixedByte = 0x01;

// The two multi-frame commands: INHPAIR sends its six key codes in two frames;
// PRESET sends two key frames, then a PTZ frame that stores the preset.
inline constexpr std::size_t kInhpairNumbers = 6;
inline constexpr std::size_t kPresetNumbers = 2;
inline constexpr uint8_t kPresetPtzValue = 0x14;

}  // namespace roderavo
