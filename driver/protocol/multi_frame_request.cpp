// BuildInhpairRequest and BuildPresetRequest: the frames of the two multi-frame
// writes. The numbers of the text are parsed once, with the first frame, and
// kept for the later frames of the same write.
#include <array>
#include <span>
#include <string_view>

#include "protocol/command_table.h"
#include "protocol/control_frame.h"
#include "protocol/control_request.h"
#include "protocol/gate_value.h"
#include "protocol/key_code_table.h"
#include "protocol/number_list.h"

namespace roderavo {

namespace {

// The kept numbers, one set per command, replaced by the next write of it.
std::array<int32_t, kInhpairNumbers> InhpairNumbers{};
std::array<int32_t, kPresetNumbers> PresetNumbers{};

// Parses the numbers of a multi-frame write's text into kept: the text is a
// parenthesised list with commas numbers - 1 commas before its closing
// parenthesis. Every number must be a key code.
bool ParseKeptKeyCodes(const Gate& gate, std::span<int32_t> kept) {
    if (gate.valueKind != kValueKindText) return false;
    const std::string_view text = ValueText(gate);
    if (text.size() > kValueTextLimit || !HasParentheses(text) || text.front() == ')' ||
        CommasBeforeClose(text) != kept.size() - 1)
        return false;
    if (!ParseNumberList(text, kept)) return false;
    for (const int32_t code : kept)
        if (!IsValidKeyCode(code)) return false;
    return true;
}

uint8_t Byte(int32_t keyCode) {
    return static_cast<uint8_t>(keyCode);
}

}  // namespace

DriverStatus BuildInhpairRequest(const Gate& gate, RequestBuffer& frame, uint16_t& size,
                                 int stage) {
    if (!BuilderTakesAddress(gate)) return DriverStatus::Refused;
    const uint8_t muxAddress = DigitMuxAddress(gate);
    const auto& n = InhpairNumbers;
    if (stage == 1) {
        if (!ParseKeptKeyCodes(gate, InhpairNumbers)) return DriverStatus::Refused;
        const std::array<uint8_t, 3> payload = {Byte(n[2]), Byte(n[0]), Byte(n[1])};
        size = FillControlFrame(frame, muxAddress, CommandCode(CommandMnemonic::Inhpair), payload);
        return DriverStatus::Ok;
    }
    if (stage == 2) {
        const std::array<uint8_t, 3> payload = {Byte(n[5]), Byte(n[3]), Byte(n[4])};
        size = FillControlFrame(frame, muxAddress, CommandCode(CommandMnemonic::Inhpair), payload);
        return DriverStatus::Ok;
    }
    return DriverStatus::Refused;
}

DriverStatus BuildPresetRequest(const Gate& gate, RequestBuffer& frame, uint16_t& size, int stage) {
    if (!BuilderTakesAddress(gate)) return DriverStatus::Refused;
    const uint8_t muxAddress = DigitMuxAddress(gate);
    switch (stage) {
        case 1: {
            if (!ParseKeptKeyCodes(gate, PresetNumbers)) return DriverStatus::Refused;
            const std::array<uint8_t, 1> payload = {Byte(PresetNumbers[0])};
            size =
                FillControlFrame(frame, muxAddress, CommandCode(CommandMnemonic::Preset), payload);
            return DriverStatus::Ok;
        }
        case 2: {
            const std::array<uint8_t, 1> payload = {Byte(PresetNumbers[1])};
            size =
                FillControlFrame(frame, muxAddress, CommandCode(CommandMnemonic::Preset), payload);
            return DriverStatus::Ok;
        }
        case 3: {
            const std::array<uint8_t, 1> payload = {kPresetPtzValue};
            size = FillControlFrame(frame, muxAddress, CommandCode(CommandMnemonic::Ptz), payload);
            return DriverStatus::Ok;
        }
        default:
            return DriverStatus::Refused;
    }
}

}  // namespace roderavo
