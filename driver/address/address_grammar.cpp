#include "address_grammar.h"

#include "base/text_slice.h"
#include "camera_range.h"
#include "mnemonic_match.h"
#include "position_char_sets.h"

namespace roderavo {

namespace {

std::optional<int32_t> MuxOfDigit(char digit) {
    if (!InCharSet(kPlcDigits, digit)) return std::nullopt;
    return digit - '0';
}

// "cc" checked position by position, or the three-character form of camera 100;
// then the camera must belong to the multiplexer.
std::optional<int32_t> CameraOf(std::string_view field, int32_t plc) {
    if (field.size() == kCameraDigits &&
        (!InCharSet(PositionCharSets[1], field[0]) || !InCharSet(PositionCharSets[2], field[1])))
        return std::nullopt;
    const std::optional<int32_t> camera = CameraFromField(field);
    if (!camera || !IsCameraOfMux(plc, *camera)) return std::nullopt;
    return camera;
}

std::optional<int32_t> IhkCodeOf(std::string_view field) {
    for (std::size_t i = 0; i < IhkCodeTable.size(); ++i)
        if (IhkCodeTable[i] == field) return static_cast<int32_t>(i);
    return std::nullopt;
}

}  // namespace

std::optional<AddressForm> CheckAddressForm(CommandMnemonic mnemonic, std::string_view address,
                                            int32_t valueKind) {
    const AddressRule& rule = AddressRuleOf(mnemonic);
    const std::string_view word = MnemonicName(mnemonic);
    if (valueKind != rule.valueKind) return std::nullopt;
    if (address.size() < word.size() || Slice(address, 0, word.size()) != word) return std::nullopt;
    const std::string_view tail = Slice(address, rule.muxDigitPos - 1u);

    AddressForm form{mnemonic, kParseDefaultPlcNum, rule.accessClass, 0, -1};
    if (rule.tail == AddressTail::None) return tail.empty() ? std::optional(form) : std::nullopt;
    if (tail.empty()) return std::nullopt;
    const std::optional<int32_t> plc = MuxOfDigit(tail[0]);
    if (!plc) return std::nullopt;
    form.plcNum = *plc;
    const std::string_view rest = Slice(address, rule.muxDigitPos);  // after the digit

    switch (rule.tail) {
        case AddressTail::Plc:
            return rest.empty() ? std::optional(form) : std::nullopt;
        case AddressTail::PlcCamera: {
            const std::optional<int32_t> camera = CameraOf(rest, form.plcNum);
            if (!camera) return std::nullopt;
            form.camera = *camera;
            return form;
        }
        case AddressTail::PlcIhkCode: {
            const std::optional<int32_t> code = IhkCodeOf(rest);
            if (!code) return std::nullopt;
            form.ihkCode = *code;
            return form;
        }
        case AddressTail::None:
            break;
    }
    return std::nullopt;
}

std::optional<AddressForm> ParseAddress(std::string_view address, int32_t valueKind) {
    const std::optional<CommandMnemonic> mnemonic = FindMnemonic(address);
    if (!mnemonic) return std::nullopt;
    return CheckAddressForm(*mnemonic, address, valueKind);
}

}  // namespace roderavo
