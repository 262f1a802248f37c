// What the tool knows about the fifteen gate forms: the value kind a host gives
// each, the companion gates that a read fills, and a hint for a user who got one
// wrong. The driver remains the judge of every address and value.
#pragma once
#define RODERAVO_TREE_GATE_FORMS_H 1  // the tree's own copy, as the layer probes ask

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "address/mnemonics.h"

namespace roderavo::tool {

struct GateForm {
    std::string_view mnemonic;
    int32_t valueKind;         // KOR_VALUE_NUMBER or KOR_VALUE_TEXT
    std::string_view form;     // e.g. "ALS m cc"
    std::string_view example;  // e.g. "ALS121"
    std::string_view value;    // what a write takes, empty for read-only forms
    CommandMnemonic word;
};

// The form whose mnemonic begins the address (case-insensitive), or nullptr.
const GateForm* FindGateForm(std::string_view address);
const std::vector<GateForm>& GateForms();

// The value kind a host gives the gate: the form's, or number when unknown.
int32_t ValueKindOf(std::string_view address);

// Upper-case copy (ASCII letters).
std::string Upper(std::string_view text);

// The companion gates a read of `address` fills: TASmcc for ALSmcc, the twenty
// SACm.. or SVCm.. for AASm / VLSm (camera 100 as SAC4100 / SVC4100).
std::vector<std::string> CompanionGates(std::string_view address, int32_t plcNum);

// Companion name of camera n (1..100) under "SAC" or "SVC".
std::string CameraGateName(std::string_view prefix, int camera);

std::string_view AccessClassName(int32_t accessClass);
std::string_view ValueKindName(int32_t valueKind);

// A sentence for a user whose address was refused.
std::string AddressHint(std::string_view address);
// A sentence for a user whose value was refused.
std::string ValueHint(std::string_view address);

}  // namespace roderavo::tool
