#include "gates/gate_forms.h"

#include <roderavo/kor.h>

#include <cctype>
#include <optional>

#include "address/address_fields.h"
#include "address/address_rules.h"
#include "output/text.h"

namespace roderavo::tool {

namespace {

// The words in the order of the driver's table; what the tool tells a user about
// each. Kinds and positions come from the driver's address rules.
const std::vector<GateForm> kForms = [] {
    struct Text {
        CommandMnemonic mnemonic;
        std::string_view form, example, value;
    };
    const Text texts[] = {
        {CommandMnemonic::Key, "KEY m", "KEY1", "a key code, e.g. 53"},
        {CommandMnemonic::Ptz, "PTZ m", "PTZ0", "a PTZ code 0..29 or 128..135"},
        {CommandMnemonic::Als, "ALS m cc (ALS4100 for camera 100)", "ALS121", ""},
        {CommandMnemonic::Caa, "CAA", "CAA", "a multiplexer number 0..4"},
        {CommandMnemonic::Aas, "AAS m", "AAS1", ""},
        {CommandMnemonic::Vls, "VLS m", "VLS1", ""},
        {CommandMnemonic::Ver, "VER m", "VER1", ""},
        {CommandMnemonic::Ihk, "IHK m kkk (kkk: 070 075 077 079 083 118)", "IHK2075",
         "one to four key codes, e.g. (9,13)"},
        {CommandMnemonic::Tad, "TAD m", "TAD1",
         "(dd,mm,yyyy,hh,mm,ss), two digits a field and four for the year, e.g. "
         "(01,12,2000,23,59,09), or now"},
        {CommandMnemonic::Joy, "JOY m", "JOY3", "three numbers -100..100, e.g. (10,-20,30)"},
        {CommandMnemonic::Inhpair, "INHPAIR m", "INHPAIR3",
         "six key codes, e.g. (48,49,50,51,52,53)"},
        {CommandMnemonic::Preset, "PRESET m", "PRESET2", "two key codes, e.g. (9,13)"},
        {CommandMnemonic::Tas, "TAS m cc (TAS4100 for camera 100)", "TAS121", ""},
        {CommandMnemonic::Sac, "SAC m cc (SAC4100 for camera 100)", "SAC121", ""},
        {CommandMnemonic::Svc, "SVC m cc (SVC4100 for camera 100)", "SVC121", ""},
    };
    std::vector<GateForm> forms;
    for (const Text& text : texts)
        forms.push_back({MnemonicName(text.mnemonic), AddressRuleOf(text.mnemonic).valueKind,
                         text.form, text.example, text.value, text.mnemonic});
    return forms;
}();

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
    const std::optional<CommandMnemonic> mnemonic = LeadingMnemonic(address);
    if (!mnemonic) return nullptr;
    for (const GateForm& form : kForms)
        if (form.word == *mnemonic) return &form;
    return nullptr;
}

int32_t ValueKindOf(std::string_view address) {
    const GateForm* form = FindGateForm(address);
    return form == nullptr ? KOR_VALUE_NUMBER : form->valueKind;
}

std::string CameraGateName(std::string_view prefix, int camera) {
    const CommandMnemonic word = prefix == "SAC" ? CommandMnemonic::Sac : CommandMnemonic::Svc;
    return std::string(ComposeCameraAddress(word, MuxOfCamera(camera), camera).View());
}

std::vector<std::string> CompanionGates(std::string_view address, int32_t plcNum) {
    std::vector<std::string> names;
    const std::optional<CommandMnemonic> word = LeadingMnemonic(address);
    if (word == CommandMnemonic::Als && address.size() > MnemonicName(*word).size()) {
        names.push_back(std::string(MnemonicName(CommandMnemonic::Tas)) +
                        std::string(CameraPart(*word, address)));
    } else if ((word == CommandMnemonic::Aas || word == CommandMnemonic::Vls) && plcNum >= 0 &&
               plcNum < kMuxCount) {
        const CommandMnemonic companion =
            word == CommandMnemonic::Aas ? CommandMnemonic::Sac : CommandMnemonic::Svc;
        for (int n = FirstCamera(plcNum); n <= LastCamera(plcNum); ++n)
            names.push_back(std::string(ComposeCameraAddress(companion, plcNum, n).View()));
    }
    return names;
}

std::string_view AccessClassName(int32_t accessClass) {
    switch (accessClass) {
        case KOR_ACCESS_COMPANION:
            return "companion";
        case KOR_ACCESS_WRITE_ONLY:
            return "write only";
        case KOR_ACCESS_READ_ONLY:
            return "read only";
        case KOR_ACCESS_READ_WRITE:
            return "read and write";
        default:
            return "?";
    }
}

std::string_view ValueKindName(int32_t valueKind) {
    return valueKind == KOR_VALUE_TEXT ? "text" : valueKind == KOR_VALUE_NUMBER ? "number" : "?";
}

std::string AddressHint(std::string_view address) {
    const GateForm* form = FindGateForm(address);
    if (form == nullptr)
        return "no gate form begins with '" + std::string(Utf8Head(address, 3)) +
               "'; the forms are KEY PTZ ALS CAA AAS VLS VER IHK TAD JOY INHPAIR PRESET TAS SAC "
               "SVC";
    std::string hint =
        "the form is " + std::string(form->form) + ", e.g. " + std::string(form->example);
    // CAA names no multiplexer in its address: its value does.
    if (form->form.find(" m") != std::string_view::npos)
        hint += "; m is the multiplexer 0.." + std::to_string(kMuxCount - 1);
    else
        hint +=
            "; the address names no multiplexer: its value does (" + std::string(form->value) + ")";
    if (AddressRuleOf(form->word).tail == AddressTail::PlcCamera)
        hint += ", cc a camera of that multiplexer (" + std::to_string(kCamerasPerMux) +
                "*m+1 .. " + std::to_string(kCamerasPerMux) + "*m+" +
                std::to_string(kCamerasPerMux) + ")";
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
