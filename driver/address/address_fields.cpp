#include "address/address_fields.h"

#include "address/address_rules.h"
#include "address/address_text.h"
#include "base/text_slice.h"

namespace roderavo {

std::optional<CommandMnemonic> LeadingMnemonic(std::string_view address) {
    for (const AddressRule& rule : kAddressRules)
        if (StartsWithFolded(address, MnemonicName(rule.mnemonic))) return rule.mnemonic;
    return std::nullopt;
}

uint32_t MuxDigitValue(CommandMnemonic mnemonic, std::string_view address) {
    return DecimalAt(address, AddressRuleOf(mnemonic).muxDigitPos, 1);
}

uint32_t CameraFieldValue(CommandMnemonic mnemonic, std::string_view address) {
    const std::size_t position = AddressRuleOf(mnemonic).fieldPos;
    if (Slice(address, position - 1, kLastCameraField.size()) == kLastCameraField)
        return static_cast<uint32_t>(kLastCamera);
    return DecimalAt(address, position, kCameraDigits);
}

uint32_t IhkCodeValue(std::string_view address) {
    return DecimalAt(address, AddressRuleOf(CommandMnemonic::Ihk).fieldPos, kIhkCodeLength);
}

std::string_view CameraPart(CommandMnemonic mnemonic, std::string_view address) {
    const std::size_t digits =
        CameraFieldValue(mnemonic, address) == static_cast<uint32_t>(kLastCamera)
            ? kLastCameraField.size()
            : kCameraDigits;
    return Slice(address, AddressRuleOf(mnemonic).muxDigitPos - 1u, 1 + digits);
}

namespace {

void AppendMuxDigit(GateName& name, int32_t plcNum) {
    GateName plc;
    plc.AppendDecimal(plcNum);
    name.Append(Slice(plc.View(), 0, 1));
}

}  // namespace

GateName ComposeCameraAddress(CommandMnemonic mnemonic, int32_t plcNum, int64_t camera) {
    GateName name;
    name.Append(MnemonicName(mnemonic));
    AppendMuxDigit(name, plcNum);
    GateName number;
    number.AppendDecimal(camera);
    if (camera >= 0 && camera < 10) {
        name.Append("0");
        name.Append(number.View());
    } else if (camera == kLastCamera) {
        name.Append(number.View());
    } else {
        name.Append(Slice(number.View(), 0, kCameraDigits));
    }
    return name;
}

GateName ComposeAddress(CommandMnemonic mnemonic, const AddressParts& parts) {
    GateName name;
    switch (AddressRuleOf(mnemonic).tail) {
        case AddressTail::None:
            name.Append(MnemonicName(mnemonic));
            break;
        case AddressTail::Plc:
            name.Append(MnemonicName(mnemonic));
            AppendMuxDigit(name, parts.plcNum);
            break;
        case AddressTail::PlcCamera:
            name = ComposeCameraAddress(mnemonic, parts.plcNum, parts.camera);
            break;
        case AddressTail::PlcIhkCode:
            name.Append(MnemonicName(mnemonic));
            AppendMuxDigit(name, parts.plcNum);
            name.Append(Slice(parts.ihkCode, 0, kIhkCodeLength));
            break;
    }
    return name;
}

}  // namespace roderavo
