// The commands the driver sends: their mnemonics, command codes, length bytes and
// the rules that go with each.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "address/address_grammar.h"
#include "address/mnemonics.h"

namespace roderavo {

// Status requests: one frame, answered by a status reply with the same command.
struct StatusCommand {
    std::string_view mnemonic;
    uint8_t code;
    uint8_t lengthByte;
    bool cameraPayload;  // one payload byte: the camera number
};

inline constexpr uint8_t kCommandVersion = 0x48;
inline constexpr uint8_t kCommandAlarmState = 0x49;
inline constexpr uint8_t kCommandAlarmStates = 0x50;
inline constexpr uint8_t kCommandVideoLoss = 0x51;
inline constexpr uint8_t kCommandClock = 0x07;

inline constexpr std::array<StatusCommand, 5> kStatusCommands = {{
    {MnemonicName(CommandMnemonic::Ver), kCommandVersion, 6, false},
    {MnemonicName(CommandMnemonic::Als), kCommandAlarmState, 7, true},
    {MnemonicName(CommandMnemonic::Aas), kCommandAlarmStates, 6, false},
    {MnemonicName(CommandMnemonic::Vls), kCommandVideoLoss, 6, false},
    {MnemonicName(CommandMnemonic::Tad), kCommandClock, 6, false},
}};

// Single-frame control requests, in the order the write path tries them.
enum class ControlKind { Key, Ptz, Caa, Ihk, Tad, Joy };

struct ControlCommand {
    std::string_view mnemonic;
    ControlKind kind;
    uint8_t code;
    int32_t valueKind;  // 0 number, 7 text
    // The acknowledgement comes from the multiplexer the frame was addressed to
    // (CAA picks it with the written number), not from the gate's plcNum.
    bool ackFromAddressedMux;
};

inline constexpr std::array<ControlCommand, 6> kControlCommands = {{
    {MnemonicName(CommandMnemonic::Key), ControlKind::Key, 0x06, kValueKindNumber, false},
    {MnemonicName(CommandMnemonic::Ptz), ControlKind::Ptz, 0x16, kValueKindNumber, false},
    {MnemonicName(CommandMnemonic::Caa), ControlKind::Caa, 0x4D, kValueKindNumber, true},
    {MnemonicName(CommandMnemonic::Ihk), ControlKind::Ihk, 0x17, kValueKindText, false},
    {MnemonicName(CommandMnemonic::Tad), ControlKind::Tad, 0x07, kValueKindText, false},
    {MnemonicName(CommandMnemonic::Joy), ControlKind::Joy, 0x18, kValueKindText, false},
}};

// Position (from 1) of the plc digit in a single-frame control address.
inline constexpr std::size_t kControlDigitPos = 4;
// Positions (from 1) of the IHK subcommand code.
inline constexpr std::size_t kIhkCodePos = 5;
inline constexpr std::size_t kIhkMaxKeys = 4;

// PTZ codes: 0..29 and 128..135.
inline constexpr uint16_t kPtzLowMax = 29;
inline constexpr uint16_t kPtzHighMin = 128;
inline constexpr uint16_t kPtzHighMax = 135;
// CAA: multiplexer 0..4.
inline constexpr uint16_t kCaaMaxMux = 4;
// JOY: three values -100..100.
inline constexpr int32_t kJoyLimit = 100;
inline constexpr std::size_t kJoyValues = 3;

// TAD write: a text of exactly 21 characters with five commas.
inline constexpr std::size_t kTadTextLength = 21;
inline constexpr std::size_t kTadCommas = 5;
inline constexpr uint8_t kTadFixedByte = 0x01;

// The two multi-frame commands.
inline constexpr std::string_view kInhpairWord = MnemonicName(CommandMnemonic::Inhpair);
inline constexpr uint8_t kInhpairCode = 0x17;
inline constexpr std::size_t kInhpairDigitPos = 8;
inline constexpr std::size_t kInhpairNumbers = 6;

inline constexpr std::string_view kPresetWord = MnemonicName(CommandMnemonic::Preset);
inline constexpr uint8_t kPresetKeyCode = 0x06;
inline constexpr uint8_t kPresetPtzCode = 0x16;
inline constexpr uint8_t kPresetPtzValue = 0x14;
inline constexpr std::size_t kPresetDigitPos = 7;
inline constexpr std::size_t kPresetNumbers = 2;

}  // namespace roderavo
