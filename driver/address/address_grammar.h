// The check of a whole gate address against the rule of its command word, as the
// host binds the gate.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "address/address_rules.h"

namespace roderavo {

// The output words of a parse before any check: plcNum, AccessClass, Reserved1..3.
inline constexpr int32_t kParseDefaultPlcNum = 0;
inline constexpr int32_t kParseDefaultAccessClass = 0;
inline constexpr int32_t kParseDefaultReserved1 = 0;
inline constexpr int32_t kParseDefaultReserved2 = -1;
inline constexpr int32_t kParseDefaultReserved3 = 16;

// An accepted address, as the driver records and uses it.
struct AddressForm {
    CommandMnemonic mnemonic;
    int32_t plcNum;  // 0 for CAA
    int32_t accessClass;
    int32_t camera;   // 1..100 for the camera forms, else 0
    int32_t ihkCode;  // index into IhkCodeTable for IHK, else -1
};

// Checks a folded address whose command word is known against the rule of that
// word, including the gate's value kind. Nothing when any check fails.
std::optional<AddressForm> CheckAddressForm(CommandMnemonic mnemonic, std::string_view address,
                                            int32_t valueKind);

// FindMnemonic, then CheckAddressForm.
std::optional<AddressForm> ParseAddress(std::string_view address, int32_t valueKind);

}  // namespace roderavo
