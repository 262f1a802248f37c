// The pure rules of the protocol layer: number lists, companion gate names, the
// camera state texts, the status request bytes and the builders' limits.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "address/address_fields.h"
#include "entry/gate_records.h"
#include "protocol/control_request.h"
#include "protocol/key_code_table.h"
#include "protocol/number_list.h"
#include "protocol/status_request.h"
#include "protocol/status_text.h"

namespace {

using namespace roderavo;

// The alarm report's gate of an ALS address.
GateName ReportGateName(std::string_view alsAddress) {
    GateName name;
    name.Append("TAS");
    name.Append(CameraPart(CommandMnemonic::Als, alsAddress));
    return name;
}
GateName CameraGateName(std::string_view word, int32_t plcNum, int64_t camera) {
    return ComposeCameraAddress(word == "SAC" ? CommandMnemonic::Sac : CommandMnemonic::Svc, plcNum,
                                camera);
}
int32_t Code(DriverStatus status) {
    return static_cast<int32_t>(status);
}

TEST(ProtocolNumberList, FieldsAsTheWriteTextsUseThem) {
    struct Case {
        std::string text;
        std::size_t count;
        bool ok;
        std::vector<int32_t> numbers;
    };
    const std::vector<Case> cases = {
        {"(9,13)", 2, true, {9, 13}},
        {"( -5 ,+7x)", 2, true, {-5, 7}},
        {"()", 1, true, {0}},
        {"(1,2,3)", 2, true, {1, 2}},
        {"(1)", 3, true, {1, 0, 0}},
        {"(1,,3)", 3, true, {1, 0, 3}},
        {"(1,2", 3, true, {1, 2, 0}},
        {"x)(4", 1, true, {4}},
        {"(123456789)", 1, true, {123456789}},
        {"(-12345678)", 1, true, {-12345678}},
        {"(1234567890)", 1, false, {0}},
        {"(1,1234567890)", 1, true, {1}},  // fields after the list are not read
        {"(1,1234567890)", 2, false, {1, 0}},
        {"9,13", 2, false, {0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text + " N=" + std::to_string(c.count));
        std::vector<int32_t> numbers(c.count, 77);
        EXPECT_EQ(ParseNumberList(c.text, numbers), c.ok);
        EXPECT_EQ(numbers, c.numbers);
    }
    EXPECT_EQ(CommasBeforeClose("(1,2),3"), 1u);
    EXPECT_EQ(CommasBeforeClose(",,"), 2u);
}

TEST(ProtocolCompanionNames, PaddedTwoDigitsAndCameraHundred) {
    EXPECT_EQ(CameraGateName("SAC", 1, 21).View(), "SAC121");
    EXPECT_EQ(CameraGateName("SAC", 0, 7).View(), "SAC007");
    EXPECT_EQ(CameraGateName("SVC", 0, 20).View(), "SVC020");
    EXPECT_EQ(CameraGateName("SVC", 4, 99).View(), "SVC499");
    EXPECT_EQ(CameraGateName("SVC", 4, 100).View(), "SVC4100");
    EXPECT_EQ(CameraGateName("SAC", 12, 241).View(), "SAC124");  // a plcNum past 4: first digits
    EXPECT_EQ(ReportGateName("ALS005").View(), "TAS005");
    EXPECT_EQ(ReportGateName("als4100").View(), "TAS4100");
    EXPECT_EQ(ReportGateName("ALS1").View(), "TAS1");
    EXPECT_EQ(ReportGateName("AL").View(), "TAS");
}

TEST(ProtocolCameraStates, OnlyFourBytesHaveTexts) {
    for (int byte = 0; byte < 256; ++byte) {
        const std::string_view text = CameraStateText(static_cast<uint8_t>(byte));
        switch (byte) {
            case 0x00:
                EXPECT_EQ(text, "None");
                break;
            case 0x20:
                EXPECT_EQ(text, "Alarm");
                break;
            case 0x2E:
                EXPECT_EQ(text, "Video Loss");
                break;
            case 0xFE:
                EXPECT_EQ(text, "Unknown");
                break;
            default:
                EXPECT_TRUE(text.empty()) << byte;
        }
    }
    ReplyBuffer reply{};
    const uint8_t clock[] = {0x99, 0x19, 0x12, 0x31, 0x07, 0x23, 0x59, 0x58};
    for (std::size_t i = 0; i < 8; ++i) reply[6 + i] = clock[i];
    reply[17] = 0x2E;
    EXPECT_EQ(ClockText(reply).View(), "31.12.1999 23:59:58 hrs");
    EXPECT_EQ(ReportText(reply).View(), "31.12.1999 23:59:58 hrs Video Loss");
    reply[9] = 0xAB;  // not BCD: shown as its two hexadecimal digits
    EXPECT_EQ(ClockText(reply).View().substr(0, 3), "ab.");
}

TEST(ProtocolStatusRequests, BytesPerMnemonic) {
    struct Case {
        const char* address;
        std::vector<uint8_t> bytes;
    };
    const std::vector<Case> cases = {
        {"VER1", {0xFF, 0x06, 0x11, 0x48, 0x3C, 0x10, 0x55}},
        {"VER0", {0xFF, 0x06, 0x01, 0x48, 0x3C, 0x10, 0x65}},
        {"ALS125", {0xFF, 0x07, 0x11, 0x49, 0x3C, 0x10, 0x19, 0x3A}},
        {"als005", {0xFF, 0x07, 0x01, 0x49, 0x3C, 0x10, 0x05, 0x5E}},
        {"ALS4100", {0xFF, 0x07, 0x41, 0x49, 0x3C, 0x10, 0x64, 0xBF}},
        {"ALS1", {0xFF, 0x07, 0x11, 0x49, 0x3C, 0x10, 0x00, 0x53}},
        {"ALS12X", {0xFF, 0x07, 0x11, 0x49, 0x3C, 0x10, 0x02, 0x51}},
        {"AAS1", {0xFF, 0x06, 0x11, 0x50, 0x3C, 0x10, 0x4D}},
        {"TAD2", {0xFF, 0x06, 0x21, 0x07, 0x3C, 0x10, 0x86}},
        {"VERX", {0xFF, 0x06, 0x01, 0x48, 0x3C, 0x10, 0x65}},
        {"KEY1", {}},
        {"", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        GateParams gate{};
        gate.Address = c.address;
        const StatusRequest request = BuildStatusRequest(GateOf(gate));
        EXPECT_EQ(std::vector<uint8_t>(request.frame.begin(), request.frame.begin() + request.size),
                  c.bytes);
    }
}

TEST(ProtocolControlBuilders, LimitsAndKeptNumbers) {
    BuildKeyCodeTable();
    RequestBuffer frame{};
    uint16_t size = 0;
    auto text = [](const char* address, const char* value) {
        GateParams gate{};
        gate.Address = address;
        gate.ValueKind = 7;
        gate.Value = const_cast<char*>(value);
        return GateOf(gate);
    };
    // Texts of 29 characters are taken; 30 are refused.
    const std::string blanks29 = "(9)" + std::string(26, ' ');
    EXPECT_EQ(Code(BuildControlRequest(text("IHK0070", blanks29.c_str()), frame, size)), 0);
    EXPECT_EQ(size, 9);
    const std::string blanks30 = blanks29 + " ";
    EXPECT_EQ(Code(BuildControlRequest(text("IHK0070", blanks30.c_str()), frame, size)), 1);
    // Addresses of nine characters are taken, ten refused; a code past a byte is refused.
    EXPECT_EQ(Code(BuildControlRequest(text("IHK0070xy", "(9)"), frame, size)), 0);
    EXPECT_EQ(Code(BuildControlRequest(text("IHK0070xyz", "(9)"), frame, size)), 1);
    EXPECT_EQ(Code(BuildControlRequest(text("IHK0999", "(9)"), frame, size)), 1);
    EXPECT_EQ(Code(BuildInhpairRequest(text("INHPAIR4x", "(48,49,50,51,52,53)"), frame, size, 1)),
              0);
    EXPECT_EQ(Code(BuildInhpairRequest(text("INHPAIR4xy", "(48,49,50,51,52,53)"), frame, size, 1)),
              1);
    EXPECT_EQ(Code(BuildControlRequest(text("JOY1", nullptr), frame, size)), 1);
    // TAD fields are read as "%2x" reads them: blanks skipped, a sign taken (a
    // minus wraps the unsigned value), hexadecimal digits up to another character.
    // Payload positions: 6 year, 7 century, 8 month, 9 day, 11 hour, 12 minute.
    struct TadCase {
        const char* text;
        int32_t result;
        std::size_t position;
        uint8_t byte;
    };
    const TadCase tadCases[] = {
        {"( 1,12,2000,23,59,59)", 0, 9, 0x01},  {"(+1,12,2000,23,59,59)", 0, 9, 0x01},
        {"(-1,12,2000,23,59,59)", 1, 0, 0},     {"(31,12,2000,23,-1,59)", 1, 0, 0},
        {"(31,12,2000,-0,59,59)", 0, 11, 0x00}, {"(31,12,20-1,23,59,59)", 0, 6, 0xFF},
        {"(31,12,-F00,23,59,59)", 0, 7, 0xF1},  {"(31,12,0x00,23,59,59)", 0, 7, 0x00},
        {"(31,12,2000,2 ,59,59)", 0, 11, 0x02}, {"(31,12,xx00,23,59,59)", 1, 0, 0},
        {"(31,12,2000,+ ,59,59)", 1, 0, 0},     {"(31,12,2000,  ,59,59)", 1, 0, 0},
    };
    for (const TadCase& c : tadCases) {
        SCOPED_TRACE(c.text);
        frame.fill(0xAA);
        EXPECT_EQ(Code(BuildControlRequest(text("TAD1", c.text), frame, size)), c.result);
        if (c.result == 0) {
            EXPECT_EQ(frame[c.position], c.byte);
        }
    }

    // The second INHPAIR frame is built from the numbers the first one kept.
    EXPECT_EQ(Code(BuildInhpairRequest(text("INHPAIR1", "(9,13,14,32,35,36)"), frame, size, 1)), 0);
    EXPECT_EQ(Code(BuildInhpairRequest(text("INHPAIR1", "(ignored)"), frame, size, 2)), 0);
    EXPECT_EQ(std::vector<uint8_t>(frame.begin() + 6, frame.begin() + 9),
              (std::vector<uint8_t>{36, 32, 35}));
    EXPECT_EQ(Code(BuildPresetRequest(text("PRESET1", "(9,13)"), frame, size, 1)), 0);
    EXPECT_EQ(Code(BuildPresetRequest(text("PRESET1", ""), frame, size, 2)), 0);
    EXPECT_EQ(frame[6], 13);
    EXPECT_EQ(Code(BuildPresetRequest(text("PRESET1", ""), frame, size, 4)), 1);
}

}  // namespace
