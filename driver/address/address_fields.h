// Reading the fields of a gate's address where the address rules put them, and
// composing the addresses of companion gates. The read and write paths look at an
// address only through these, and accept what the parse may never have seen: a
// field that is not there or not a digit reads as 0.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "address/mnemonics.h"
#include "base/short_text.h"

namespace roderavo {

// The command word the address starts with, once folded; nothing when none does.
// No word is the beginning of another, so at most one matches.
std::optional<CommandMnemonic> LeadingMnemonic(std::string_view address);

// The multiplexer digit of an address of the word.
uint32_t MuxDigitValue(CommandMnemonic mnemonic, std::string_view address);

// The camera of a camera address: its two digits, or 100 for the one three-digit
// field "100".
uint32_t CameraFieldValue(CommandMnemonic mnemonic, std::string_view address);

// The IHK subcommand code of an IHK address, as a decimal number.
uint32_t IhkCodeValue(std::string_view address);

// The multiplexer digit and camera field of a camera address as the host wrote
// them (three characters, four for camera 100).
std::string_view CameraPart(CommandMnemonic mnemonic, std::string_view address);

using GateName = ShortText<15>;

// The address of a camera's companion gate: the word, the first character of
// plcNum in decimal, then the camera in two digits, with a leading zero below 10;
// camera 100 keeps all three.
GateName ComposeCameraAddress(CommandMnemonic mnemonic, int32_t plcNum, int64_t camera);

// What follows the command word of a composed address; a rule takes only the parts
// its tail names.
struct AddressParts {
    int32_t plcNum = 0;
    int64_t camera = 0;
    std::string_view ihkCode;  // its first three characters
};

// The address of a gate of the word, as its rule has it: the word alone (CAA), the
// word and the multiplexer digit, then the camera field (as ComposeCameraAddress)
// or the IHK code.
GateName ComposeAddress(CommandMnemonic mnemonic, const AddressParts& parts);

}  // namespace roderavo
