// SingleParse through KorMain: results, output words and log lines, for any input.
#include <gtest/gtest.h>
#include <roderavo/kor.h>
#include <zanpro/host.h>

#include <random>
#include <string>
#include <vector>

#include "address/address_grammar.h"
#include "address/folded_address.h"
#include "support/quiet_host.h"

namespace roderavo {
namespace {

constexpr const char* kEntry = "VERODI: Entered KorMain(), with function 2";
constexpr const char* kInvalid = "VERODI: invalid chars in address";

struct Parsed {
    int32_t result;
    ParseParams params;
    std::vector<zanpro::LogLine> log;
};

Parsed Parse(const char* address, int32_t kind) {
    zanpro::ClearLog();
    Parsed p{};
    p.params = ParseParams{address, 0xA5A5A5A5u, kind, 0xA5A5A5A5u, 9, 9, 9, 9, 9};
    DriverContext context{};
    KorCall call{&context, 3, 1, 0, &p.params};
    p.result = KorMain(&call);
    p.log = zanpro::TakeLog();
    return p;
}

class SingleParseTest : public roderavo_test::QuietHostTest {};

TEST_F(SingleParseTest, ResultsWordsAndLines) {
    enum Outcome { kPass, kSilent, kInvalidLine };
    struct Case {
        const char* address;
        int32_t kind;
        Outcome outcome;
        int32_t plc, access;
    };
    const Case cases[] = {
        {"key0", 0, kPass, 0, 1},
        {"KEY0", 0, kPass, 0, 1},
        {"CAA", 0, kPass, 0, 1},
        {"ALS121", 0, kPass, 1, 2},
        {"als4100", 0, kPass, 4, 2},
        {"TAS4100", 7, kPass, 4, 0},
        {"SAC4100", 0, kPass, 4, 0},
        {"SVC4100", 0, kPass, 4, 0},
        {"VER2", 7, kPass, 2, 2},
        {"TAD1", 7, kPass, 1, 3},
        {"IHK2075", 7, kPass, 2, 1},
        {"INHPAIR3", 7, kPass, 3, 1},
        {"PRESET0", 7, kPass, 0, 1},
        {"TAS005", 7, kPass, 0, 0},
        {"VER2", 0, kSilent, 0, 0},
        {"CAA0", 0, kSilent, 0, 0},
        {"ALS021", 0, kSilent, 0, 0},
        {"ALS4099", 0, kSilent, 0, 0},
        {"TAS4100", 0, kSilent, 0, 0},
        {"INHPAIRX", 7, kSilent, 0, 0},
        {"KEY\xB0", 0, kSilent, 0, 0},
        {"INHPAIR", 7, kInvalidLine, 0, 0},
        {"PRESET", 7, kInvalidLine, 0, 0},
        {"PRESET12", 7, kInvalidLine, 0, 0},
        {"", 0, kInvalidLine, 0, 0},
        {"KE", 0, kInvalidLine, 0, 0},
        {"\xEB\xE5\xF9"
         "0",
         0, kInvalidLine, 0, 0},
    };
    for (const Case& c : cases) {
        const Parsed p = Parse(c.address, c.kind);
        std::vector<zanpro::LogLine> lines = {{8, kEntry}};
        if (c.outcome == kPass)
            lines.push_back(
                {8, std::string("VERODI: GAS ") + c.address + " pass the Parse function."});
        if (c.outcome == kInvalidLine) lines.push_back({32, kInvalid});
        EXPECT_EQ(p.result, c.outcome == kPass ? 0 : 1) << c.address;
        EXPECT_EQ(p.log, lines) << c.address;
        EXPECT_EQ(p.params.plcNum, c.plc) << c.address;
        EXPECT_EQ(p.params.AccessClass, c.access) << c.address;
        EXPECT_EQ(p.params.Reserved1, 0);
        EXPECT_EQ(p.params.Reserved2, -1);
        EXPECT_EQ(p.params.Reserved3, 16);
        EXPECT_EQ(p.params.HostField2, 0xA5A5A5A5u);
        EXPECT_EQ(p.params.HostField4, 0xA5A5A5A5u);
    }
}

TEST_F(SingleParseTest, AnyLengthIsExaminedWithoutOverrun) {
    // Exactly sized heap copies, so that a read past the terminator is caught.
    for (const std::size_t length : {9u, 10u, 64u, 4096u, 1u << 20}) {
        for (const char* head : {"KEY0", "XYZ1", "INHPAIR3"}) {
            std::string text(length, 'Z');
            text.replace(0, std::string_view(head).size(), head);
            const std::vector<char> copy(text.c_str(), text.c_str() + text.size() + 1);
            const Parsed p = Parse(copy.data(), 0);
            EXPECT_EQ(p.result, 1) << head << " " << length;
            const bool knownWord = std::string_view(head) == "KEY0";
            EXPECT_EQ(p.log.size(), knownWord ? 1u : 2u) << head << " " << length;
        }
    }
}

TEST_F(SingleParseTest, RandomBytesGetADefinedAnswer) {
    std::mt19937 random(20261207);
    std::uniform_int_distribution<int> byte(1, 255), size(0, 24), pick(0, 3);
    const std::string letters = "KEYPTZALSCAVRIHDJONPRTSkeyals0123456789";
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        const int n = size(random);
        for (int i = 0; i < n; ++i)
            text += pick(random) == 0
                        ? static_cast<char>(byte(random))
                        : letters[static_cast<std::size_t>(byte(random)) % letters.size()];
        const std::vector<char> copy(text.c_str(), text.c_str() + text.size() + 1);
        const int32_t kind = pick(random) < 2 ? 0 : 7;
        const Parsed p = Parse(copy.data(), kind);
        const auto form = ParseAddress(FoldAddress(copy.data()).View(), kind);
        ASSERT_EQ(p.result, form ? 0 : 1) << text;
        ASSERT_EQ(p.log.size(), p.result == 0 ? 2u : p.log.size());
        ASSERT_LE(p.log.size(), 2u);
        if (form) {
            EXPECT_EQ(p.params.plcNum, form->plcNum);
            EXPECT_LE(text.size(), kMaxAddressLength);
        }
    }
}

TEST_F(SingleParseTest, MissingBlockOrAddressIsRefused) {
    DriverContext context{};
    KorCall call{&context, 3, 1, 0, nullptr};
    EXPECT_EQ(KorMain(&call), 1);
    EXPECT_EQ(zanpro::TakeLog(), (std::vector<zanpro::LogLine>{{8, kEntry}}));

    const Parsed p = Parse(nullptr, 0);
    EXPECT_EQ(p.result, 1);
    EXPECT_EQ(p.log, (std::vector<zanpro::LogLine>{{8, kEntry}, {32, kInvalid}}));
    EXPECT_EQ(p.params.Reserved2, -1);
}

}  // namespace
}  // namespace roderavo
