// BuildControlRequest: the one frame of a KEY, PTZ, CAA, IHK, TAD or JOY write.
#include <array>
#include <optional>
#include <string_view>

#include "address/address_fields.h"
#include "address/address_text.h"
#include "base/text_slice.h"
#include "protocol/command_table.h"
#include "protocol/control_frame.h"
#include "protocol/control_request.h"
#include "protocol/gate_value.h"
#include "protocol/key_code_table.h"
#include "protocol/number_list.h"

namespace roderavo {

namespace {

struct Payload {
    std::array<uint8_t, kRequestBufferSize> bytes{};
    std::size_t size = 0;
    void Add(uint8_t byte) {
        if (size < bytes.size()) bytes[size++] = byte;
    }
    std::span<const uint8_t> View() const { return std::span(bytes).first(size); }
};

bool IsSingleFrameWord(CommandMnemonic mnemonic) {
    for (const ControlCommand& command : kControlCommands)
        if (command.mnemonic == mnemonic) return true;
    return false;
}

// KEY and PTZ carry the written number; CAA picks the multiplexer with it.
bool NumberRules(CommandMnemonic kind, uint16_t value, uint8_t& muxAddress, Payload& payload) {
    switch (kind) {
        case CommandMnemonic::Key:
            if (!IsValidKeyCode(value)) return false;
            payload.Add(static_cast<uint8_t>(value));
            return true;
        case CommandMnemonic::Ptz:
            if (value > kPtzLowMax && (value < kPtzHighMin || value > kPtzHighMax)) return false;
            payload.Add(static_cast<uint8_t>(value));
            return true;
        case CommandMnemonic::Caa:
            if (value > kCaaMaxMux) return false;
            muxAddress = static_cast<uint8_t>(MuxAddress(value));
            return true;
        default:
            return false;
    }
}

// IHK: the subcommand code of the address, then one to four key codes.
bool IhkRules(std::string_view address, std::string_view text, Payload& payload) {
    const std::size_t commas = CommasBeforeClose(text);
    if (commas > kIhkMaxKeys - 1) return false;
    std::array<int32_t, kIhkMaxKeys> keys{};
    const auto list = std::span(keys).first(commas + 1);
    if (!ParseNumberList(text, list)) return false;
    for (const int32_t key : list)
        if (!IsValidKeyCode(key)) return false;
    const uint32_t code = IhkCodeValue(address);
    if (code > 0xFF) return false;
    payload.Add(static_cast<uint8_t>(code));
    for (const int32_t key : list) payload.Add(static_cast<uint8_t>(key));
    return true;
}

// JOY: three values -100..100, each sent as a two's-complement byte.
bool JoyRules(std::string_view text, Payload& payload) {
    if (text.front() == ')' || CommasBeforeClose(text) != kJoyValues - 1) return false;
    std::array<int32_t, kJoyValues> values{};
    if (!ParseNumberList(text, values)) return false;
    for (const int32_t value : values)
        if (value < -kJoyLimit || value > kJoyLimit) return false;
    for (const int32_t value : values) payload.Add(static_cast<uint8_t>(value & 0xFF));
    return true;
}

// One two-character clock field read as the scan format "%2x" reads it, so that
// decimal digits arrive as BCD: leading white space, an optional sign, then
// hexadecimal digits up to the first other character. The value is unsigned, as
// the format stores it: a minus sign wraps it around.
std::optional<uint32_t> HexField(std::string_view text, std::size_t position) {
    const std::string_view field = Slice(text, position - 1, 2);
    std::size_t i = 0;
    while (i < field.size() && (field[i] == ' ' || (field[i] >= '\t' && field[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < field.size() && (field[i] == '+' || field[i] == '-')) negative = field[i++] == '-';
    uint32_t value = 0;
    std::size_t digits = 0;
    for (; i < field.size(); ++i, ++digits) {
        const char c = field[i];
        uint32_t digit = 0;
        if (c >= '0' && c <= '9')
            digit = static_cast<uint32_t>(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<uint32_t>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<uint32_t>(c - 'A' + 10);
        else
            break;
        value = value * 16 + digit;
    }
    if (digits == 0) return std::nullopt;
    return negative ? 0u - value : value;
}

// TAD: "(dd,mm,ccyy,hh,mm,ss)", the fields as BCD bytes.
bool TadRules(std::string_view text, Payload& payload) {
    if (text.size() != kTadTextLength || text.front() == ')' ||
        CommasBeforeClose(text) != kTadCommas)
        return false;
    const auto day = HexField(text, 2);
    const auto month = HexField(text, 5);
    const auto century = HexField(text, 8);
    const auto year = HexField(text, 10);
    const auto hour = HexField(text, 13);
    const auto minute = HexField(text, 16);
    const auto second = HexField(text, 19);
    if (!day || !month || !century || !year || !hour || !minute || !second) return false;
    if (*day < 0x01 || *day > 0x31 || *month < 0x01 || *month > 0x12 || *hour > 0x23 ||
        *minute > 0x59 || *second > 0x59)
        return false;
    // Century and year are not checked: their low bytes go out as read.
    for (const uint32_t field :
         {*year, *century, *month, *day, uint32_t{kTadFixedByte}, *hour, *minute, *second})
        payload.Add(static_cast<uint8_t>(field & 0xFF));
    return true;
}

bool TextRules(CommandMnemonic kind, std::string_view address, std::string_view text,
               Payload& payload) {
    if (text.size() > kValueTextLimit || !HasParentheses(text)) return false;
    switch (kind) {
        case CommandMnemonic::Ihk:
            return IhkRules(address, text, payload);
        case CommandMnemonic::Joy:
            return JoyRules(text, payload);
        case CommandMnemonic::Tad:
            return TadRules(text, payload);
        default:
            return false;
    }
}

}  // namespace

DriverStatus BuildControlRequest(const Gate& gate, RequestBuffer& frame, uint16_t& size) {
    if (!BuilderTakesAddress(gate) || !gate.word || !IsSingleFrameWord(*gate.word))
        return DriverStatus::Refused;
    const AddressRule& rule = AddressRuleOf(*gate.word);
    if (gate.valueKind != rule.valueKind) return DriverStatus::Refused;

    uint8_t muxAddress = DigitMuxAddress(gate);
    Payload payload;
    if (gate.valueKind == kValueKindNumber) {
        uint16_t value = 0;
        if (!ReadGateNumber(gate, value) || !NumberRules(rule.mnemonic, value, muxAddress, payload))
            return DriverStatus::Refused;
    } else if (!TextRules(rule.mnemonic, gate.address, ValueText(gate), payload)) {
        return DriverStatus::Refused;
    }
    size = FillControlFrame(frame, muxAddress, rule.commandCode, payload.View());
    return size != 0 ? DriverStatus::Ok : DriverStatus::Refused;
}

int ControlFrameCount(const Gate& gate) {
    if (gate.word == CommandMnemonic::Inhpair) return 2;
    if (gate.word == CommandMnemonic::Preset) return 3;
    return 1;
}

DriverStatus BuildControlStage(const Gate& gate, int stage, RequestBuffer& frame,
                               uint16_t& size) {
    if (gate.word == CommandMnemonic::Inhpair)
        return BuildInhpairRequest(gate, frame, size, stage);
    if (gate.word == CommandMnemonic::Preset) return BuildPresetRequest(gate, frame, size, stage);
    return BuildControlRequest(gate, frame, size);
}

}  // namespace roderavo
