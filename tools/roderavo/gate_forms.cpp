#include "gate_forms.h"

#include <cctype>

namespace roderavo::tool {

namespace {

// Longest mnemonics first, so that INHPAIR is not taken for something shorter.
const std::vector<GateForm> kForms = {
    {"INHPAIR", 7, "INHPAIR m", "INHPAIR3", "six key codes, e.g. (48,49,50,51,52,53)"},
    {"PRESET", 7, "PRESET m", "PRESET2", "two key codes, e.g. (9,13)"},
    {"KEY", 0, "KEY m", "KEY1", "a key code, e.g. 53"},
    {"PTZ", 0, "PTZ m", "PTZ0", "a PTZ code 0..29 or 128..135"},
    {"ALS", 0, "ALS m cc (ALS4100 for camera 100)", "ALS121", ""},
    {"CAA", 0, "CAA", "CAA", "a multiplexer number 0..4"},
    {"AAS", 0, "AAS m", "AAS1", ""},
    {"VLS", 0, "VLS m", "VLS1", ""},
    {"VER", 7, "VER m", "VER1", ""},
    {"IHK", 7, "IHK m kkk (kkk: 070 075 077 079 083 118)", "IHK2075",
     "one to four key codes, e.g. (9,13)"},
    {"TAD", 7, "TAD m", "TAD1", "(dd,mm,yyyy,hh,mm,ss), e.g. (31,12,2000,23,59,59), or now"},
    {"JOY", 7, "JOY m", "JOY3", "three numbers -100..100, e.g. (10,-20,30)"},
    {"TAS", 7, "TAS m cc (TAS4100 for camera 100)", "TAS121", ""},
    {"SAC", 0, "SAC m cc (SAC4100 for camera 100)", "SAC121", ""},
    {"SVC", 0, "SVC m cc (SVC4100 for camera 100)", "SVC121", ""},
};

}  // namespace

std::string Upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

const std::vector<GateForm>& GateForms() {
    return kForms;
}

const GateForm* FindGateForm(std::string_view address) {
    const std::string upper = Upper(address);
    for (const GateForm& form : kForms)
        if (upper.starts_with(form.mnemonic)) return &form;
    return nullptr;
}

int32_t ValueKindOf(std::string_view address) {
    const GateForm* form = FindGateForm(address);
    return form == nullptr ? 0 : form->valueKind;
}

std::string CameraGateName(std::string_view prefix, int camera) {
    const int mux = camera == 100 ? 4 : (camera - 1) / 20;
    std::string name(prefix);
    name += static_cast<char>('0' + mux);
    if (camera < 10) name += '0';
    name += std::to_string(camera);
    return name;
}

std::vector<std::string> CompanionGates(std::string_view address, int32_t plcNum) {
    const std::string upper = Upper(address);
    std::vector<std::string> names;
    if (upper.starts_with("ALS") && address.size() > 3) {
        names.push_back("TAS" + std::string(address.substr(3)));
    } else if ((upper.starts_with("AAS") || upper.starts_with("VLS")) && plcNum >= 0 &&
               plcNum <= 4) {
        const std::string_view prefix = upper.starts_with("AAS") ? "SAC" : "SVC";
        for (int n = plcNum * 20 + 1; n <= plcNum * 20 + 20; ++n)
            names.push_back(CameraGateName(prefix, n));
    }
    return names;
}

std::string_view AccessClassName(int32_t accessClass) {
    switch (accessClass) {
        case 0:
            return "companion";
        case 1:
            return "write only";
        case 2:
            return "read only";
        case 3:
            return "read and write";
        default:
            return "?";
    }
}

std::string_view ValueKindName(int32_t valueKind) {
    return valueKind == 7 ? "text" : valueKind == 0 ? "number" : "?";
}

std::string AddressHint(std::string_view address) {
    const GateForm* form = FindGateForm(address);
    if (form == nullptr)
        return "no gate form begins with '" + std::string(address.substr(0, 3)) +
               "'; the forms are KEY PTZ ALS CAA AAS VLS VER IHK TAD JOY INHPAIR PRESET TAS SAC "
               "SVC";
    std::string hint = "the form is " + std::string(form->form) + ", e.g. " +
                       std::string(form->example) + "; m is the multiplexer 0..4";
    if (form->form.find("cc") != std::string_view::npos)
        hint += ", cc a camera of that multiplexer (20*m+1 .. 20*m+20)";
    return hint;
}

std::string ValueHint(std::string_view address) {
    const GateForm* form = FindGateForm(address);
    if (form == nullptr || form->value.empty()) return "this gate cannot be written";
    std::string hint = std::string(form->mnemonic) + " takes " + std::string(form->value);
    if (form->value.find("key code") != std::string_view::npos)
        hint +=
            "; the key codes are 9 13 14 32 35 36 48..57 68 70 71 72 75 76 77 79 82 83 85 97 "
            "99 101 102 104..107 110 112..115 118 119 121 122 203 205";
    return hint;
}

}  // namespace roderavo::tool
