// KorMain: the entry line, the invalid and empty slots, and the refused block
// operations.
#include <gtest/gtest.h>
#include <roderavo/kor.h>
#include <zanpro/host.h>

#include <string>
#include <vector>

#include "support/quiet_host.h"

namespace {

using Lines = std::vector<zanpro::LogLine>;

class KorMainTest : public roderavo_test::QuietHostTest {
  protected:
    static int32_t Call(uint32_t function, void* params) {
        DriverContext context{};
        KorCall call{&context, function, 1, 0, params};
        return KorMain(&call);
    }
};

std::string EntryLine(int number) {
    return "VERODI: Entered KorMain(), with function " + std::to_string(number);
}

TEST_F(KorMainTest, InvalidNumbersAndEmptySlots) {
    const std::string invalid = "VERODI: Exited KorMain() invalid function number";
    const std::string empty = "VERODI: Exited KorMain() pointer in KorFunc[] is NULL";
    struct Case {
        uint32_t function;
        int logged;
        const std::string& second;
    };
    const Case cases[] = {
        {0, -1, invalid},
        {KOR_FUNC_LAST + 1, 17, invalid},
        {KOR_FUNC_LAST + 2, 18, invalid},
        {0xFFFFFFFFu, -2, invalid},
        {8, 7, empty},
        {9, 8, empty},
        {KOR_FUNC_LAST, 16, empty},
    };
    int junk = 0;
    for (const Case& c : cases) {
        zanpro::ClearLog();
        EXPECT_EQ(Call(c.function, &junk), KOR_NO_OPERATION) << c.function;
        EXPECT_EQ(zanpro::TakeLog(), (Lines{{8, EntryLine(c.logged)}, {8, c.second}}))
            << c.function;
    }
}

TEST_F(KorMainTest, BlockOperationsAreRefusedWithOneLine) {
    BlockParseParams block{"ALS121"};
    BlockParseParams odd{"x'%s\xE9"};
    int junk = 0;
    struct Case {
        uint32_t function;
        void* params;
        std::string line;
    };
    const Case cases[] = {
        {KOR_FUNC_BLOCK_PARSE, &block, "VERODI: Block Parse failed Tag 'ALS121', No block Support"},
        {KOR_FUNC_BLOCK_PARSE, &odd, "VERODI: Block Parse failed Tag 'x'%s\xE9', No block Support"},
        {KOR_FUNC_BLOCK_READ, &junk, "VERODI: KOR does not support block read."},
        {KOR_FUNC_BLOCK_READ, nullptr, "VERODI: KOR does not support block read."},
        {KOR_FUNC_BLOCK_WRITE, &junk, "VERODI: Block Write not supported!"},
        {KOR_FUNC_BLOCK_WRITE, nullptr, "VERODI: Block Write not supported!"},
    };
    for (const Case& c : cases) {
        zanpro::ClearLog();
        EXPECT_EQ(Call(c.function, c.params), KOR_REFUSED) << c.function;
        EXPECT_EQ(zanpro::TakeLog(),
                  (Lines{{8, EntryLine(static_cast<int>(c.function) - 1)}, {32, c.line}}))
            << c.function;
    }
}

TEST_F(KorMainTest, BlockParseWithoutATagStillAnswers) {
    BlockParseParams none{nullptr};
    EXPECT_EQ(Call(KOR_FUNC_BLOCK_PARSE, &none), KOR_REFUSED);
    EXPECT_EQ(Call(KOR_FUNC_BLOCK_PARSE, nullptr), KOR_REFUSED);
    EXPECT_EQ(zanpro::TakeLog().size(), 4u);
}

TEST_F(KorMainTest, AValidCallLogsOneEntryLineFirst) {
    ParseParams parse{"KEY0", 0, 0, 0, 0, 0, 0, 0, 0};
    DriverInfo info{};
    struct Case {
        uint32_t function;
        void* params;
    };
    const Case cases[] = {{KOR_FUNC_SINGLE_PARSE, &parse},
                          {KOR_FUNC_GET_INFO, &info},
                          {KOR_FUNC_WARM_START, nullptr}};
    for (const Case& c : cases) {
        zanpro::ClearLog();
        Call(c.function, c.params);
        const Lines lines = zanpro::TakeLog();
        ASSERT_FALSE(lines.empty()) << c.function;
        EXPECT_EQ(lines[0], (zanpro::LogLine{8, EntryLine(static_cast<int>(c.function) - 1)}));
        for (std::size_t i = 1; i < lines.size(); ++i)
            EXPECT_EQ(lines[i].text.rfind("VERODI: Entered", 0), std::string::npos) << c.function;
    }
}

TEST_F(KorMainTest, NoCallRecordIsRefused) {
    EXPECT_EQ(KorMain(nullptr), KOR_COMM_FAILURE);
}

}  // namespace
