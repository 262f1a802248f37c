// The address grammar: every form over a small alphabet against a separate model
// of the rules, the word lists, the case fold and the camera numbering.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "address/address_fields.h"
#include "address/address_grammar.h"
#include "address/camera_range.h"
#include "address/folded_address.h"
#include "address/mnemonic_match.h"
#include "address/upcase_char.h"

namespace roderavo {
namespace {

struct Expected {
    int32_t plc;
    int32_t accessClass;
    int32_t camera;
};

bool IsPlcDigit(char c) {
    return c >= '0' && c <= '4';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The rules written out once more, word by word, as a model for the grammar table.
std::optional<Expected> Model(const std::string& word, const std::string& tail, int32_t kind) {
    const auto plcOnly = [&](int32_t needKind, int32_t access) -> std::optional<Expected> {
        if (kind != needKind || tail.size() != 1 || !IsPlcDigit(tail[0])) return std::nullopt;
        return Expected{tail[0] - '0', access, 0};
    };
    const auto camera = [&](int32_t needKind, int32_t access) -> std::optional<Expected> {
        if (kind != needKind || tail.empty() || !IsPlcDigit(tail[0])) return std::nullopt;
        const int32_t plc = tail[0] - '0';
        int32_t number = -1;
        if (tail.size() == 3 && IsDigit(tail[1]) && IsDigit(tail[2]))
            number = (tail[1] - '0') * 10 + (tail[2] - '0');
        if (tail == "4100") number = 100;
        if (number < 20 * plc + 1 || number > 20 * plc + 20) return std::nullopt;
        return Expected{plc, access, number};
    };
    if (word == "KEY" || word == "PTZ") return plcOnly(0, 1);
    if (word == "AAS" || word == "VLS") return plcOnly(0, 2);
    if (word == "VER") return plcOnly(7, 2);
    if (word == "JOY" || word == "INHPAIR" || word == "PRESET") return plcOnly(7, 1);
    if (word == "TAD") return plcOnly(7, 3);
    if (word == "CAA")
        return (kind == 0 && tail.empty()) ? std::optional(Expected{0, 1, 0}) : std::nullopt;
    if (word == "ALS") return camera(0, 2);
    if (word == "TAS") return camera(7, 0);
    if (word == "SAC" || word == "SVC") return camera(0, 0);
    if (word == "IHK") {
        static const std::vector<std::string> codes = {"070", "075", "077", "079", "083", "118"};
        if (kind != 7 || tail.size() != 4 || !IsPlcDigit(tail[0])) return std::nullopt;
        for (const auto& code : codes)
            if (tail.substr(1) == code) return Expected{tail[0] - '0', 1, 0};
    }
    return std::nullopt;
}

void AllTails(const std::string& alphabet, std::size_t maxLength, std::vector<std::string>& out) {
    std::vector<std::string> level = {""};
    out = level;
    for (std::size_t n = 1; n <= maxLength; ++n) {
        std::vector<std::string> next;
        for (const auto& prefix : level)
            for (const char c : alphabet) next.push_back(prefix + c);
        out.insert(out.end(), next.begin(), next.end());
        level.swap(next);
    }
}

TEST(AddressGrammar, EveryShortFormMatchesTheModel) {
    std::vector<std::string> tails;
    AllTails(std::string("0123456789X") + '\xB1', 4, tails);
    int accepted = 0;
    for (const std::string_view word : MnemonicTable) {
        for (const std::string& tail : tails) {
            const std::string address = std::string(word) + tail;
            for (const int32_t kind : {0, 7, 1, -1}) {
                const std::optional<AddressForm> form = ParseAddress(address, kind);
                const std::optional<Expected> expected = Model(std::string(word), tail, kind);
                ASSERT_EQ(form.has_value(), expected.has_value()) << address << " kind " << kind;
                if (!form) continue;
                ++accepted;
                EXPECT_EQ(MnemonicName(form->mnemonic), word) << address;
                EXPECT_EQ(form->plcNum, expected->plc) << address;
                EXPECT_EQ(form->accessClass, expected->accessClass) << address;
                EXPECT_EQ(form->camera, expected->camera) << address;
            }
        }
    }
    // 9 words with a plc digit alone, CAA, 4 camera words with cameras 1..100, 5 x 6 IHK forms.
    EXPECT_EQ(accepted, 9 * 5 + 1 + 4 * 100 + 5 * 6);
}

TEST(AddressGrammar, IhkCodesAndCamera100AreRecorded) {
    const auto ihk = ParseAddress("IHK4118", kValueKindText);
    ASSERT_TRUE(ihk);
    EXPECT_EQ(IhkCodeTable[static_cast<std::size_t>(ihk->ihkCode)], "118");
    const auto als = ParseAddress("ALS4100", kValueKindNumber);
    ASSERT_TRUE(als);
    EXPECT_EQ(als->camera, 100);
    EXPECT_EQ(als->plcNum, 4);
}

// Every address composed from parts is one the parse accepts, naming the same parts.
TEST(ComposeAddress, EveryComposedAddressParsesBackToItsParts) {
    int composed = 0;
    for (const AddressRule& rule : kAddressRules) {
        for (int32_t plc = 0; plc < kMuxCount; ++plc) {
            for (int32_t camera = FirstCamera(plc); camera <= LastCamera(plc); ++camera) {
                for (std::size_t code = 0; code < IhkCodeTable.size(); ++code) {
                    const AddressParts parts{plc, camera, IhkCodeTable[code]};
                    const GateName name = ComposeAddress(rule.mnemonic, parts);
                    const auto form = ParseAddress(name.View(), rule.valueKind);
                    ASSERT_TRUE(form) << name.View();
                    ++composed;
                    EXPECT_EQ(form->mnemonic, rule.mnemonic) << name.View();
                    if (rule.tail == AddressTail::None) continue;
                    EXPECT_EQ(form->plcNum, plc) << name.View();
                    if (rule.tail == AddressTail::PlcCamera) {
                        EXPECT_EQ(form->camera, camera) << name.View();
                    }
                    if (rule.tail == AddressTail::PlcIhkCode) {
                        EXPECT_EQ(form->ihkCode, static_cast<int32_t>(code)) << name.View();
                    }
                }
            }
        }
    }
    EXPECT_EQ(composed, 15 * 100 * 6);
    EXPECT_EQ(ComposeAddress(CommandMnemonic::Caa, {3, 0, ""}).View(), "CAA");
    EXPECT_EQ(ComposeAddress(CommandMnemonic::Ihk, {2, 0, "0755"}).View(), "IHK2075");
    EXPECT_EQ(ComposeAddress(CommandMnemonic::Tas, {4, 100, ""}).View(), "TAS4100");
}

TEST(MnemonicMatch, PrefixAndWordLists) {
    struct Case {
        std::string_view address;
        int list;  // 1..5
        std::optional<CommandMnemonic> found;
    };
    const Case cases[] = {
        {"KEY0", 1, CommandMnemonic::Key},
        {"KEYBOARD", 1, CommandMnemonic::Key},
        {"KEY", 1, CommandMnemonic::Key},
        {"KE", 1, std::nullopt},
        {"", 1, std::nullopt},
        {"TAS005", 1, std::nullopt},
        {"TAS005", 2, CommandMnemonic::Tas},
        {"SVC", 3, CommandMnemonic::Svc},
        {"JOY1", 4, CommandMnemonic::Joy},
        {"INHPAIR3", 5, CommandMnemonic::Inhpair},
        {"INHPAIRX", 5, CommandMnemonic::Inhpair},
        {"INHPAIR", 5, std::nullopt},
        {"PRESET0", 5, CommandMnemonic::Preset},
        {"PRESET", 5, std::nullopt},
        {"PRESET12", 5, std::nullopt},
        {"", 5, std::nullopt},
        {"X", 5, std::nullopt},
    };
    for (const Case& c : cases) {
        std::optional<CommandMnemonic> found;
        switch (c.list) {
            case 1:
                found = MatchMnemonicPrefix(c.address, kPrimaryWords);
                break;
            case 2:
                found = MatchMnemonicPrefix(c.address, kReportCompanionWords);
                break;
            case 3:
                found = MatchMnemonicPrefix(c.address, kListCompanionWords);
                break;
            case 4:
                found = MatchMnemonicPrefix(c.address, kMultiplexerWords);
                break;
            default:
                found = MatchMnemonicWord(c.address, kLongWords);
                break;
        }
        EXPECT_EQ(found, c.found) << c.address << " list " << c.list;
    }
}

TEST(MnemonicMatch, EveryWordSitsInExactlyOneList) {
    for (std::size_t i = 0; i < kMnemonicCount; ++i) {
        const auto m = static_cast<CommandMnemonic>(i);
        int lists = 0;
        for (const auto& list : {std::span<const CommandMnemonic>(kPrimaryWords),
                                 std::span<const CommandMnemonic>(kReportCompanionWords),
                                 std::span<const CommandMnemonic>(kListCompanionWords),
                                 std::span<const CommandMnemonic>(kMultiplexerWords),
                                 std::span<const CommandMnemonic>(kLongWords)})
            for (const CommandMnemonic member : list) lists += member == m ? 1 : 0;
        EXPECT_EQ(lists, 1) << MnemonicTable[i];
    }
}

TEST(UpcaseChar, FoldsOnly0x61To0x7F) {
    for (int byte = 0; byte < 256; ++byte) {
        const int expected = (byte >= 0x61 && byte <= 0x7F) ? byte - 0x20 : byte;
        EXPECT_EQ(static_cast<uint8_t>(UpcaseChar(static_cast<char>(byte))), expected) << byte;
    }
}

TEST(FoldedAddress, KeepsAtMostOneCharacterMoreThanAnyForm) {
    const std::string longText(100000, 'k');
    struct Case {
        const char* address;
        std::string_view folded;
    };
    const Case cases[] = {
        {"key0", "KEY0"},
        {"", ""},
        {nullptr, ""},
        {"inhpair3", "INHPAIR3"},
        {"inhpair33", "INHPAIR33"},
        {"inhpair333", "INHPAIR33"},
        {"a{\xE9~", "A[\xE9^"},
        {longText.c_str(), "KKKKKKKKK"},
    };
    for (const Case& c : cases) {
        const FoldedAddress folded = FoldAddress(c.address);
        EXPECT_EQ(folded.View(), c.folded);
        EXPECT_EQ(folded.text[folded.length], '\0');
    }
}

TEST(CameraRange, FieldsAndMultiplexers) {
    EXPECT_EQ(CameraFromField("05"), 5);
    EXPECT_EQ(CameraFromField("00"), 0);
    EXPECT_EQ(CameraFromField("99"), 99);
    EXPECT_EQ(CameraFromField("100"), 100);
    EXPECT_EQ(CameraFromField("101"), std::nullopt);
    EXPECT_EQ(CameraFromField("099"), std::nullopt);
    EXPECT_EQ(CameraFromField("5"), std::nullopt);
    EXPECT_EQ(CameraFromField("1X"), std::nullopt);
    EXPECT_EQ(CameraFromField(""), std::nullopt);
    for (int32_t plc = 0; plc < kMuxCount; ++plc) {
        EXPECT_FALSE(IsCameraOfMux(plc, FirstCamera(plc) - 1));
        EXPECT_TRUE(IsCameraOfMux(plc, FirstCamera(plc)));
        EXPECT_TRUE(IsCameraOfMux(plc, LastCamera(plc)));
        EXPECT_FALSE(IsCameraOfMux(plc, LastCamera(plc) + 1));
    }
    EXPECT_EQ(LastCamera(4), kLastCamera);
    EXPECT_FALSE(IsCameraOfMux(5, 101));
    EXPECT_FALSE(IsCameraOfMux(-1, 0));
}

}  // namespace
}  // namespace roderavo
