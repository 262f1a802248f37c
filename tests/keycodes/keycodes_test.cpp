// The keypad codes the multiplexer accepts, and their table's rebuild by Init.
#include <gtest/gtest.h>
#include <roderavo/kor.h>
#include <zanpro/host.h>

#include <array>
#include <set>
#include <string>
#include <vector>

#include "platform/pause.h"
#include "protocol/key_code_table.h"
#include "support/hook_guard.h"
#include "support/quiet_host.h"

namespace roderavo {
namespace {

const std::set<int32_t> kValidCodes = {9,   13,  14,  32,  35,  36,  48,  49,  50,  51,  52,  53,
                                       54,  55,  56,  57,  68,  70,  71,  72,  75,  76,  77,  79,
                                       82,  83,  85,  97,  99,  101, 102, 104, 105, 106, 107, 110,
                                       112, 113, 114, 115, 118, 119, 121, 122, 203, 205};

TEST(KeyCodeTable, HoldsExactlyTheFortySixCodes) {
    BuildKeyCodeTable();
    ASSERT_EQ(kValidCodes.size(), 46u);
    ASSERT_EQ(KeyCodeTable.size(), 840u);
    for (std::size_t i = 0; i < KeyCodeTable.size(); ++i) {
        const bool valid = kValidCodes.count(static_cast<int32_t>(i)) == 1;
        EXPECT_EQ(KeyCodeTable[i], valid ? static_cast<int32_t>(i) : 0) << i;
        EXPECT_EQ(IsValidKeyCode(static_cast<int32_t>(i)), valid) << i;
    }
}

TEST(KeyCodeTable, EdgeCodes) {
    BuildKeyCodeTable();
    struct Case {
        int32_t code;
        bool valid;
    };
    const Case cases[] = {
        {0, false},         {9, true},      {13, true},   {14, true},    {10, false},
        {11, false},        {12, false},    {15, false},  {47, false},   {48, true},
        {57, true},         {58, false},    {68, true},   {69, false},   {97, true},
        {98, false},        {122, true},    {123, false}, {202, false},  {203, true},
        {204, false},       {205, true},    {206, false}, {839, false},  {840, false},
        {1000, false},      {65535, false}, {-1, false},  {-840, false}, {INT32_MIN, false},
        {INT32_MAX, false},
    };
    for (const Case& c : cases) EXPECT_EQ(IsValidKeyCode(c.code), c.valid) << c.code;
}

class KeyCodeInitTest : public roderavo_test::QuietHostTest {
  protected:
    static int32_t InitWithoutPort(DriverContext& context) {
        InitParams params{};
        params.OpenRequested = 0;
        KorCall call{&context, KOR_FUNC_INIT, 3, 0, &params};
        return KorMain(&call);
    }
};

TEST_F(KeyCodeInitTest, EveryInitRebuildsTheSameTableEvenWhenItFails) {
    BuildKeyCodeTable();
    const std::array<int32_t, kKeyCodeTableSize> built = KeyCodeTable;

    DriverContext context{};
    KeyCodeTable.fill(7);
    EXPECT_EQ(InitWithoutPort(context), KOR_OK);
    EXPECT_EQ(KeyCodeTable, built);

    // The same instance again: the client name is taken, so Init fails after the
    // table was rebuilt.
    DriverContext second{};
    KeyCodeTable.fill(-1);
    EXPECT_EQ(InitWithoutPort(second), KOR_REFUSED);
    EXPECT_EQ(KeyCodeTable, built);
}

// Before the first Init the table is empty: a write that carries a key code
// cannot be prepared, and nothing is sent.
TEST_F(KeyCodeInitTest, WritesOfKeyCodesAreRefusedBeforeInit) {
    KeyCodeTable.fill(0);
    const roderavo_test::HookGuard<PauseFunction> noPause(&SetPauseFunction, [](uint32_t) {});
    DriverContext context{};
    KorNumberValue number{0, 53};
    char text[] = "(9,13)";
    struct Case {
        const char* address;
        int32_t valueKind;
        void* value;
    };
    const Case cases[] = {{"KEY1", KOR_VALUE_NUMBER, &number},
                          {"IHK1075", KOR_VALUE_TEXT, text},
                          {"PRESET1", KOR_VALUE_TEXT, text}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        GateParams gate{};
        gate.Address = c.address;
        gate.plcNum = 1;
        gate.AccessClass = KOR_ACCESS_WRITE_ONLY;
        gate.ValueKind = c.valueKind;
        gate.Value = c.value;
        zanpro::ClearLog();
        KorCall call{&context, KOR_FUNC_SINGLE_WRITE, 3, 0, &gate};
        const int32_t result = KorMain(&call);
        const std::vector<zanpro::LogLine> log = zanpro::Log();
        EXPECT_EQ(result, KOR_REFUSED);
        ASSERT_EQ(log.size(), 2u);
        EXPECT_EQ(log[1].level, 32);
        EXPECT_EQ(log[1].text, std::string("VERODI: Failed to prepare write request to PLC,GAS:") +
                                   c.address + ".");
    }
}

}  // namespace
}  // namespace roderavo
