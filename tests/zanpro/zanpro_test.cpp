// The reference host library: clients, gates, stores and the log.
#include <gtest/gtest.h>
#include <zanpro/host.h>
#include <zanpro/zanpro.h>

#include <string>
#include <vector>

namespace {

class ZanproTest : public ::testing::Test {
  protected:
    void SetUp() override {
        zanpro::Reset();
        zanpro::SetLogSink([](int32_t, std::string_view) {});  // quiet
        zanpro::ShowTraces(false);
        zanpro::KeepLog(true);
        zanpro::SetLogCapacity(zanpro::kDefaultLogCapacity);
    }
    void TearDown() override {
        SetUp();
        zanpro::SetLogSink({});
    }

    uint8_t MakeClient(const char* name) {
        uint8_t id = 0;
        EXPECT_EQ(ZanMkClient(name, 1, 0, &id), 0) << name;
        return id;
    }
};

TEST_F(ZanproTest, ClientsGetIdsOneTo255AndNamesAreUnique) {
    uint8_t id = 0;
    EXPECT_EQ(MakeClient("VERODI No_01"), 1);
    EXPECT_NE(ZanMkClient("VERODI No_01", 1, 0, &id), 0);
    EXPECT_EQ(id, 0) << "a refused client leaves the id alone";
    for (int i = 2; i <= 255; ++i) {
        const std::string name = "client " + std::to_string(i);
        EXPECT_EQ(MakeClient(name.c_str()), i);
    }
    EXPECT_NE(ZanMkClient("one too many", 1, 0, &id), 0);
    EXPECT_EQ(ZanRmClient(7), 0);
    EXPECT_NE(ZanRmClient(7), 0) << "removed twice";
    EXPECT_NE(ZanRmClient(0), 0);
    EXPECT_NE(ZanRmClient(256), 0);
    EXPECT_EQ(MakeClient("one too many"), 7) << "a freed id is reused";
    EXPECT_EQ(zanpro::ClientId("one too many"), 7);
    EXPECT_EQ(zanpro::ClientNames().size(), 255u);
    EXPECT_NE(ZanMkClient(nullptr, 1, 0, &id), 0);
    EXPECT_NE(ZanMkClient("x", 1, 0, nullptr), 0);
}

TEST_F(ZanproTest, AFreedIdComesBackLast) {
    // Instance A closes its port (client removed), instance B starts: B must not
    // get A's id, or A's Exit (which removes the client once more) would remove B's.
    EXPECT_EQ(MakeClient("VERODI No_01"), 1);
    EXPECT_EQ(MakeClient("VERODI No_02"), 2);
    EXPECT_EQ(ZanRmClient(1), 0);
    EXPECT_EQ(MakeClient("VERODI No_03"), 3);
    EXPECT_NE(ZanRmClient(1), 0) << "the second removal finds nothing";
    EXPECT_EQ(zanpro::ClientId("VERODI No_03"), 3);
}

TEST_F(ZanproTest, GateLookUpIgnoresCaseAndUsesTheLowEightInstanceBits) {
    const uint8_t client = MakeClient("VERODI No_01");
    const uint32_t sac = zanpro::AddGate(1, "SAC121");
    const uint32_t high = zanpro::AddGate(0x102, "TAS121");
    EXPECT_EQ(zanpro::AddGate(1, "sac121"), sac) << "same gate, other case";

    struct Case {
        uint32_t instance;
        const char* address;
        int16_t found;
        uint32_t id;
    };
    const Case cases[] = {
        {1, "SAC121", 0, sac},  {1, "sac121", 0, sac},      {1, "SaC121", 0, sac},
        {2, "SAC121", 3, 0},    {1, "SAC12", 3, 0},         {1, "SAC1210", 3, 0},
        {2, "TAS121", 0, high}, {0x102, "tas121", 0, high},
    };
    for (const Case& c : cases) {
        uint32_t id = 0;
        EXPECT_EQ(ZanGetGateIdByAddressStr(client, c.instance, c.address, &id) == 0, c.found == 0)
            << c.address << " instance " << c.instance;
        if (c.found == 0) {
            EXPECT_EQ(id, c.id) << c.address;
        }
    }
    uint32_t id = 0;
    EXPECT_NE(ZanGetGateIdByAddressStr(client + 1, 1, "SAC121", &id), 0) << "unknown client";
    EXPECT_NE(ZanGetGateIdByAddressStr(client, 1, nullptr, &id), 0);
    // Every look-up counts, found or not; the host's own FindGate does not.
    zanpro::FindGate(1, "SAC121");
    EXPECT_EQ(zanpro::GateLookups(), std::size(cases) + 2);
}

TEST_F(ZanproTest, StoresNeedAClientAndAGate) {
    const uint8_t client = MakeClient("VERODI No_02");
    const uint32_t number = zanpro::AddGate(2, "AAS1");
    const uint32_t text = zanpro::AddGate(2, "TAS121");

    EXPECT_EQ(ZanPutGateVal(client, number, 2, 3.5, 0, 0), 0);
    EXPECT_EQ(ZanPutGateStr(client, text, 2, "alarm 12:00", 0, 0), 0);
    EXPECT_EQ(zanpro::GateValue(number), 3.5);
    EXPECT_EQ(zanpro::GateText(text), "alarm 12:00");
    EXPECT_EQ(zanpro::GateStores(number), 1u);

    EXPECT_NE(ZanPutGateVal(client + 1, number, 2, 1.0, 0, 0), 0) << "unknown client";
    EXPECT_NE(ZanPutGateVal(client, 999, 2, 1.0, 0, 0), 0) << "unknown gate";
    EXPECT_NE(ZanPutGateStr(client, text, 2, nullptr, 0, 0), 0);
    EXPECT_EQ(zanpro::GateValue(number), 3.5);
    EXPECT_EQ(zanpro::GateStores(number), 1u);
    EXPECT_FALSE(zanpro::GateValue(text).has_value());
    EXPECT_FALSE(zanpro::GateText(999).has_value());
}

TEST_F(ZanproTest, ErrFormatsLikePrintfAndKeepsTheLevel) {
    err(8, "VERODI: Entered KorMain(), with function %d", -1);
    err(32, "VERODI: GAS %s pass the Parse function.", "key0");
    err(32, "VERODI: %.2d|%5s|%x|%%", 7, "ab", 255);
    err(32, "%s", std::string(3000, 'x').c_str());
    const std::vector<zanpro::LogLine> lines = zanpro::TakeLog();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], (zanpro::LogLine{8, "VERODI: Entered KorMain(), with function -1"}));
    EXPECT_EQ(lines[1], (zanpro::LogLine{32, "VERODI: GAS key0 pass the Parse function."}));
    EXPECT_EQ(lines[2], (zanpro::LogLine{32, "VERODI: 07|   ab|ff|%"}));
    EXPECT_EQ(lines[3].text.size(), 3000u) << "long lines are kept whole";
    EXPECT_TRUE(zanpro::Log().empty()) << "TakeLog clears";
}

TEST_F(ZanproTest, SinkSeesEveryLineAndKeepLogCanBeTurnedOff) {
    std::vector<zanpro::LogLine> seen;
    zanpro::SetLogSink([&](int32_t level, std::string_view text) {
        seen.push_back({level, std::string(text)});
    });
    err(8, "trace %d", 1);
    err(32, "event %d", 2);
    zanpro::KeepLog(false);
    err(32, "event %d", 3);
    EXPECT_EQ(seen,
              (std::vector<zanpro::LogLine>{{8, "trace 1"}, {32, "event 2"}, {32, "event 3"}}));
    EXPECT_EQ(zanpro::Log(), (std::vector<zanpro::LogLine>{{8, "trace 1"}, {32, "event 2"}}));
}

TEST_F(ZanproTest, TheKeptLogIsBoundedByDefaultAndKeepsTheNewestLines) {
    const size_t lines = zanpro::kDefaultLogCapacity + 5;
    for (size_t i = 0; i < lines; ++i) err(8, "line %zu", i);
    std::vector<zanpro::LogLine> kept = zanpro::Log();
    ASSERT_EQ(kept.size(), zanpro::kDefaultLogCapacity);
    EXPECT_EQ(kept.front().text, "line 5");
    EXPECT_EQ(kept.back().text, "line " + std::to_string(lines - 1));

    struct Case {
        size_t capacity;
        std::vector<std::string> kept;  // of the lines a..e, after the shrink to 3
    };
    const Case cases[] = {
        {0, {}},
        {1, {"e"}},
        {2, {"d", "e"}},
        {4, {"b", "c", "d", "e"}},
    };
    for (const Case& c : cases) {
        zanpro::ClearLog();
        zanpro::SetLogCapacity(3);
        for (const char* line : {"a", "b", "c", "d"}) err(32, "%s", line);
        zanpro::SetLogCapacity(c.capacity);  // keeps the newest that fit: b, c, d
        err(32, "e");
        std::vector<std::string> texts;
        for (const auto& line : zanpro::Log()) texts.push_back(line.text);
        EXPECT_EQ(texts, c.kept) << "capacity " << c.capacity;
        EXPECT_EQ(zanpro::LogCapacity(), c.capacity);
    }
}

TEST_F(ZanproTest, GatesThatShareAnAddressUnderTheLowInstanceBits) {
    const uint8_t client = MakeClient("VERODI No_01");
    const uint32_t first = zanpro::AddGate(0x101, "sac121");
    const uint32_t second = zanpro::AddGate(1, "SAC121");
    EXPECT_NE(first, second) << "different instance numbers";
    EXPECT_EQ(zanpro::FindGate(1, "Sac121"), second);
    EXPECT_EQ(zanpro::FindGate(0x101, "SAC121"), first);
    uint32_t id = 0;
    EXPECT_EQ(ZanGetGateIdByAddressStr(client, 1, "SAC121", &id), 0);
    EXPECT_EQ(id, first) << "the first registered";
    EXPECT_TRUE(zanpro::RemoveGate(first));
    EXPECT_FALSE(zanpro::RemoveGate(first));
    EXPECT_EQ(ZanGetGateIdByAddressStr(client, 0x201, "sac121", &id), 0);
    EXPECT_EQ(id, second);
    EXPECT_TRUE(zanpro::RemoveGate(second));
    EXPECT_EQ(ZanGetGateIdByAddressStr(client, 1, "SAC121", &id), 3);
    EXPECT_EQ(zanpro::AddGate(1, "SAC121"), second + 1) << "registered anew";
}

TEST_F(ZanproTest, DefaultSinkShowsTracesOnlyWhenAsked) {
    zanpro::SetLogSink({});
    ::testing::internal::CaptureStderr();
    err(8, "hidden trace");
    err(32, "shown event");
    zanpro::ShowTraces(true);
    err(8, "shown trace");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "shown event\nshown trace\n");
}

TEST_F(ZanproTest, ResetForgetsEverything) {
    MakeClient("VERODI No_01");
    const uint32_t gate = zanpro::AddGate(1, "AAS1");
    err(32, "line");
    uint32_t id = 0;
    ZanGetGateIdByAddressStr(1, 1, "AAS1", &id);
    zanpro::Reset();
    EXPECT_TRUE(zanpro::ClientNames().empty());
    EXPECT_FALSE(zanpro::FindGate(1, "AAS1").has_value());
    EXPECT_FALSE(zanpro::GateValue(gate).has_value());
    EXPECT_TRUE(zanpro::Log().empty());
    EXPECT_EQ(zanpro::GateLookups(), 0u);
    EXPECT_EQ(MakeClient("VERODI No_01"), 1);
}

}  // namespace
