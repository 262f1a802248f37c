// SingleParse through KorMain on any address and value kind, against a reference
// of the address grammar written out here from the gate address table: accepted
// or not, the multiplexer number and access class, the fixed words and the log.
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_support.h"

namespace {

struct Form {
    std::string_view word;
    int32_t valueKind;
    int32_t accessClass;
    enum Shape { Plc, None, Camera, Ihk, WordPlc } shape;
};

constexpr Form kForms[] = {
    {"KEY", 0, 1, Form::Plc},    {"PTZ", 0, 1, Form::Plc},         {"ALS", 0, 2, Form::Camera},
    {"CAA", 0, 1, Form::None},   {"AAS", 0, 2, Form::Plc},         {"VLS", 0, 2, Form::Plc},
    {"VER", 7, 2, Form::Plc},    {"IHK", 7, 1, Form::Ihk},         {"TAD", 7, 3, Form::Plc},
    {"JOY", 7, 1, Form::Plc},    {"INHPAIR", 7, 1, Form::WordPlc}, {"PRESET", 7, 1, Form::WordPlc},
    {"TAS", 7, 0, Form::Camera}, {"SAC", 0, 0, Form::Camera},      {"SVC", 0, 0, Form::Camera},
};

struct Verdict {
    bool wordFound = false;
    bool accepted = false;
    int32_t plcNum = 0;
    int32_t accessClass = 0;
};

bool IsPlc(char c) {
    return c >= '0' && c <= '4';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The shape after the word, on the folded text.
std::optional<int32_t> PlcOf(const Form& form, std::string_view s) {
    switch (form.shape) {
        case Form::None:
            return s.size() == 3 ? std::optional<int32_t>(0) : std::nullopt;
        case Form::Plc:
            if (s.size() != 4 || !IsPlc(s[3])) return std::nullopt;
            return s[3] - '0';
        case Form::WordPlc: {
            const std::size_t at = form.word.size();
            if (s.size() != at + 1 || !IsPlc(s[at])) return std::nullopt;
            return s[at] - '0';
        }
        case Form::Ihk: {
            if (s.size() != 7 || !IsPlc(s[3])) return std::nullopt;
            const std::string_view code = s.substr(4);
            for (const std::string_view known : {"070", "075", "077", "079", "083", "118"})
                if (code == known) return s[3] - '0';
            return std::nullopt;
        }
        case Form::Camera: {
            if (s == std::string(form.word) + "4100") return 4;
            if (s.size() != 6 || !IsPlc(s[3]) || !IsDigit(s[4]) || !IsDigit(s[5]))
                return std::nullopt;
            const int m = s[3] - '0';
            const int camera = (s[4] - '0') * 10 + (s[5] - '0');
            if (camera < 20 * m + 1 || camera > 20 * m + 20) return std::nullopt;
            return m;
        }
    }
    return std::nullopt;
}

Verdict Reference(std::string_view address, int32_t valueKind) {
    std::string s(address);
    for (char& c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x61 && u <= 0x7F) c = static_cast<char>(u - 0x20);
    }
    const Form* form = nullptr;
    for (const Form& f : kForms)
        if (f.word.size() == 3 && s.substr(0, 3) == f.word) form = &f;
    if (form == nullptr && !s.empty()) {
        const std::string_view less = std::string_view(s).substr(0, s.size() - 1);
        for (const Form& f : kForms)
            if (f.word.size() > 3 && less == f.word) form = &f;
    }
    Verdict verdict;
    if (form == nullptr) return verdict;
    verdict.wordFound = true;
    const std::optional<int32_t> plc = PlcOf(*form, s);
    if (!plc || valueKind != form->valueKind) return verdict;
    verdict.accepted = true;
    verdict.plcNum = *plc;
    verdict.accessClass = form->accessClass;
    return verdict;
}

int32_t ValueKindOf(uint8_t selector) {
    switch (selector % 4) {
        case 0:
            return 0;
        case 1:
            return 7;
        default:
            return static_cast<int32_t>(static_cast<int8_t>(selector));  // anything, also 0 or 7
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    fuzz::Reader in(data, size);
    const int32_t valueKind = ValueKindOf(in.Byte());
    const std::string address = in.Rest();  // the host's text ends at its first zero
    const std::string_view text(address.c_str());

    fuzz::QuietHost();
    DriverContext context{};
    ParseParams params{};
    params.Address = address.c_str();
    params.ValueKind = valueKind;
    params.plcNum = params.AccessClass = 0x5A5A;
    const int32_t result = fuzz::Call(context, KOR_FUNC_SINGLE_PARSE, &params);

    const Verdict expected = Reference(text, valueKind);
    const std::string about =
        "address \"" + std::string(text) + "\" kind " + std::to_string(valueKind) + ": ";
    fuzz::Expect(result == (expected.accepted ? KOR_OK : KOR_REFUSED),
                 about + "result " + std::to_string(result));
    fuzz::Expect(params.Reserved1 == 0 && params.Reserved2 == -1 && params.Reserved3 == 16,
                 about + "reserved words");
    fuzz::Log log{fuzz::Entered(KOR_FUNC_SINGLE_PARSE)};
    if (expected.accepted) {
        fuzz::Expect(params.plcNum == expected.plcNum,
                     about + "plcNum " + std::to_string(params.plcNum));
        fuzz::Expect(params.AccessClass == expected.accessClass,
                     about + "access class " + std::to_string(params.AccessClass));
        log.push_back({8, "VERODI: GAS " + std::string(text) + " pass the Parse function."});
    } else if (!expected.wordFound) {
        log.push_back({32, "VERODI: invalid chars in address"});
    }
    fuzz::ExpectLog(zanpro::TakeLog(), log);
    return 0;
}
