// The Modbus face's parts without a socket: the map of a picture as time passes, the
// holding registers, frames cut by their MBAP length and requests read, and the
// settings of the face.
#include <gtest/gtest.h>

#include <map>
#include <tuple>

#include "bridge/modbus/modbus_frame.h"
#include "bridge/modbus/modbus_map.h"
#include "bridge/modbus/modbus_server.h"
#include "bridge/modbus/modbus_tags.h"

using namespace roderavo::tool;
using namespace roderavo::tool::bridge;
using namespace std::chrono_literals;

namespace {

constexpr uint8_t k0B = kModbusTargetFailed;
constexpr uint8_t k02 = kModbusIllegalAddress;

// The map of a picture: multiplexer 0 ok (camera 3 in alarm, camera 5 in video loss,
// camera 7 in a state nobody knows), 1 demoted after answering, 2 ok but its clock not
// read yet, 3 polled but never read, 4 failing; read 3 s after the picture and again
// 20 s later, when multiplexer 0's data has grown stale and it shows failing.
TEST(BridgeModbusMap, EveryFaceOfAMultiplexerAsTheReadFindsIt) {
    const auto start = PollClock::now();
    const auto now = start + 100s;
    MuxView ok;
    ok.mux = 0;
    ok.state = MuxState::Ok;
    ok.lastGood = now - 3s;
    for (auto& cell : ok.alarm) cell = 0;
    for (auto& cell : ok.videoLoss) cell = 0;
    ok.alarm[2] = 0x20;
    ok.videoLoss[4] = 1;
    ok.alarm[6] = 0xFE;
    ok.version = "AMUX 20CD V2.10";
    ok.clock = "07.12.2026 22:37:19 hrs";
    MuxView demoted = ok, noClock = ok, never, failing = ok;
    demoted.mux = 1;
    demoted.state = MuxState::Demoted;
    demoted.lastGood = now - 30h;
    noClock.mux = 2;
    noClock.clock.clear();
    never.mux = 3;
    never.state = MuxState::Demoted;
    failing.mux = 4;
    failing.state = MuxState::Failing;
    const ModbusMap map(
        std::make_shared<const Picture>(std::vector{ok, demoted, noClock, never, failing}, 10s),
        start);
    ModbusHolding holding;
    struct Row {
        const char* what;
        PollClock::time_point at;
        int table;  // 2 discrete inputs, 3 holding registers, 4 input registers
        int address, count;
        std::vector<uint16_t> values;
        uint8_t exception = 0;
    };
    const auto later = now + 20s;
    const Row rows[] = {
        {"alarm bits of mux 0", now, 2, 0, 8, {0, 0, 1, 0, 0, 0, 0, 0}},
        {"video-loss bits of mux 0", now, 2, 100, 6, {0, 0, 0, 0, 1, 0}},
        {"camera states of mux 0", now, 4, 0, 8, {0, 0, 1, 0, 2, 0, 3, 0}},
        {"answering bits", now, 2, 200, 5, {1, 0, 1, 0, 0}},
        {"every state, in one block", now, 4, 100, 5, {0, 2, 0, 3, 1}},
        {"ages, always readable", now, 4, 105, 5, {3, 65535, 3, 65535, 3}},
        {"ages count between cycles", now + 14s, 4, 105, 1, {17}},
        {"clock of mux 0", now, 4, 110, 6, {2026, 12, 7, 22, 37, 19}},
        {"version of mux 0",
         now,
         4,
         140,
         9,
         {0x414D, 0x5558, 0x2032, 0x3043, 0x4420, 0x5632, 0x2E31, 0x3000, 0}},
        {"heartbeat", now, 4, 300, 1, {100}},
        {"heartbeat wraps", start + 65537s, 4, 300, 1, {1}},
        {"cameras of demoted mux 1: bits", now, 2, 20, 1, {}, k0B},
        {"cameras of demoted mux 1: states unknown", now, 4, 20, 2, {3, 3}},
        {"cameras of failing mux 4: bits", now, 2, 180, 1, {}, k0B},
        {"cameras of failing mux 4: states unknown", now, 4, 80, 1, {3}},
        {"a bit read across into mux 1", now, 2, 15, 10, {}, k0B},
        {"the clock of demoted mux 1", now, 4, 116, 6, {}, k0B},
        {"a clock not read yet", now, 4, 122, 6, {}, k0B},
        {"the version of failing mux 4", now, 4, 204, 1, {}, k0B},
        {"stale at the read: failing", later, 4, 100, 1, {1}},
        {"stale at the read: not answering", later, 2, 200, 1, {0}},
        {"stale at the read: cameras unknown", later, 4, 2, 1, {3}},
        {"stale at the read: bits refused", later, 2, 2, 1, {}, k0B},
        {"past the discrete inputs", now, 2, 204, 2, {}, k02},
        {"past the multiplexers' registers", now, 4, 219, 2, {}, k02},
        {"between them and the heartbeat", now, 4, 250, 1, {}, k02},
        {"past the heartbeat", now, 4, 300, 2, {}, k02},
        {"no register", now, 4, 0, 0, {}, k02},
        {"holding: 0 before any write", now, 3, 1000, 5, {0, 0, 0, 0, 0}},
        {"holding: a gap", now, 3, 1004, 2, {}, k02},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const ModbusAnswer answer =
            row.table == 2   ? map.DiscreteInputs(row.address, row.count, row.at)
            : row.table == 4 ? map.InputRegisters(row.address, row.count, row.at)
                             : holding.Read(row.address, row.count);
        EXPECT_EQ(answer.exception, row.exception);
        EXPECT_EQ(answer.values, row.values);
    }
    // What was written is read back: a key, a preset's pair and the clear-alarms value.
    holding.Written(1001, {53});
    holding.Written(1022, {9, 13});
    holding.Written(1030, {4});
    EXPECT_EQ(holding.Read(1000, 2).values, (std::vector<uint16_t>{0, 53}));
    EXPECT_EQ(holding.Read(1022, 9).values, (std::vector<uint16_t>{9, 13, 0, 0, 0, 0, 0, 0, 4}));
}

// The tag list a SCADA imports names every address the map serves, and no other.
TEST(BridgeModbusMap, TheTagListIsTheMap) {
    const ModbusMap map(std::make_shared<const Picture>());
    std::map<std::pair<std::string, int>, int> listed;  // table, address: Modicon number
    for (const ModbusTag& tag : ModbusTags()) listed[{tag.table, tag.address}] = tag.modicon;
    const auto now = PollClock::now();
    for (int address = 0; address < kHoldingEnd + 10; ++address) {
        const struct {
            const char* table;
            bool served;
            int modicon;
        } tables[] = {
            {"discrete input", map.DiscreteInputs(address, 1, now).exception != k02, 10001},
            {"input register", map.InputRegisters(address, 1, now).exception != k02, 30001},
            {"holding register", ModbusHolding().Read(address, 1).exception != k02, 40001},
        };
        for (const auto& table : tables) {
            const auto found = listed.find({table.table, address});
            EXPECT_EQ(found != listed.end(), table.served) << table.table << " " << address;
            if (found != listed.end()) {
                EXPECT_EQ(found->second, table.modicon + address);
            }
        }
    }
    const std::string csv = ModbusTagsCsv();
    EXPECT_EQ(csv.substr(0, csv.find('\n')), "table,address,modicon,name,type,access,description");
    EXPECT_NE(csv.find("\ninput register,300,30301,heartbeat,\"unsigned 16-bit, no scaling\","),
              std::string::npos);
}

// What each write of holding registers asks, and the writes that hit no single target.
TEST(BridgeModbusMap, HoldingRegistersAskOneAssignmentEach) {
    const struct {
        int address;
        std::vector<uint16_t> values;
        std::string assignment;
        uint8_t exception = 0;
    } rows[] = {
        {1001, {53}, "KEY1=53"},   {1014, {128}, "PTZ4=128"}, {1022, {9, 13}, "PRESET1=(9,13)"},
        {1030, {3}, "CAA=3"},      {1042, {1}, "TAD2=now"},   {1042, {2}, "", kModbusIllegalValue},
        {1020, {9}, "", k02},       // a preset register alone
        {1021, {13, 9}, "", k02},   // a pair across two presets
        {1000, {53, 53}, "", k02},  // two targets
        {1005, {53}, "", k02},     {0, {1}, "", k02},
    };
    for (const auto& row : rows) {
        const ModbusWrite write = HoldingWrite(row.address, row.values);
        EXPECT_EQ(write.assignment, row.assignment) << row.address;
        EXPECT_EQ(write.exception, row.exception) << row.address;
    }
}

std::vector<uint8_t> Frame(std::vector<uint8_t> pdu, uint16_t transaction = 7) {
    const auto length = static_cast<uint16_t>(pdu.size() + 1);
    std::vector<uint8_t> frame{
        static_cast<uint8_t>(transaction >> 8), static_cast<uint8_t>(transaction & 0xFF), 0, 0,
        static_cast<uint8_t>(length >> 8),      static_cast<uint8_t>(length & 0xFF),      1};
    for (const uint8_t byte : pdu) frame.push_back(byte);
    return frame;
}

// Frames are cut by the MBAP length whatever the function; a request is read into what
// it asks or the exception it gets; the answers keep the transaction and the unit.
TEST(BridgeModbusFrames, CutByTheirLengthAndReadIntoWhatTheyAsk) {
    // A 0x2B request with bytes after its function, then a read: two frames.
    std::vector<uint8_t> two = Frame({0x2B, 0x0E, 0x01, 0x00});
    const std::vector<uint8_t> read = Frame({4, 0, 105, 0, 5}, 8);
    two.insert(two.end(), read.begin(), read.end());
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        FrameCut::Kind kind;
        std::size_t length;
    } cuts[] = {
        {"nothing", {}, FrameCut::Kind::kIncomplete, 0},
        {"a header cut short", {0, 1, 0, 0, 0}, FrameCut::Kind::kIncomplete, 0},
        {"a frame and the next", two, FrameCut::Kind::kFrame, 11},
        {"the length says more than came",
         {0, 1, 0, 0, 0, 6, 1, 4},
         FrameCut::Kind::kIncomplete,
         0},
        {"a protocol id not 0", {0, 1, 0, 7, 0, 6}, FrameCut::Kind::kBad, 0},
        {"a length no frame has", {0, 1, 0, 0, 1, 0}, FrameCut::Kind::kBad, 0},
        {"a length without a function", {0, 1, 0, 0, 0, 1, 1}, FrameCut::Kind::kBad, 0},
    };
    for (const auto& cut : cuts) {
        const FrameCut got = CutFrame(cut.bytes);
        EXPECT_EQ(got.kind, cut.kind) << cut.what;
        EXPECT_EQ(got.length, cut.length) << cut.what;
    }
    const struct {
        const char* what;
        std::vector<uint8_t> pdu;
        int address, count;
        std::vector<uint16_t> values;
        uint8_t exception = 0;
    } requests[] = {
        {"2000 bits", {2, 0, 0, 0x07, 0xD0}, 0, 2000, {}},
        {"2001 bits", {2, 0, 0, 0x07, 0xD1}, 0, 0, {}, 3},
        {"125 registers", {4, 0, 100, 0, 125}, 100, 125, {}},
        {"126 registers", {4, 0, 100, 0, 126}, 0, 0, {}, 3},
        {"126 holding registers", {3, 0x03, 0xE8, 0, 126}, 0, 0, {}, 3},
        {"no register", {4, 0, 100, 0, 0}, 0, 0, {}, 3},
        {"a read one byte long", {4, 0, 100, 0, 1, 0}, 0, 0, {}, 3},
        {"function 6", {6, 0x03, 0xE9, 0, 53}, 1001, 1, {53}},
        {"function 16", {16, 0x03, 0xFC, 0, 2, 4, 0, 9, 0, 13}, 1020, 2, {9, 13}},
        {"16: byte count not twice the count", {16, 0x03, 0xFC, 0, 2, 2, 0, 9}, 0, 0, {}, 3},
        {"16: fewer values than its byte count", {16, 0x03, 0xFC, 0, 2, 4, 0, 9}, 0, 0, {}, 3},
        {"16: 124 registers", {16, 0x03, 0xE8, 0, 124, 248}, 0, 0, {}, 3},
        {"a function nobody serves", {0x41, 0, 0, 0, 1}, 0, 0, {}, 1},
        {"0x2B", {0x2B, 0x0E, 1, 0}, 0, 0, {}, 1},
        {"0x84", {0x84, 0, 0, 0, 1}, 0, 0, {}, 1},
    };
    for (const auto& row : requests) {
        const ModbusRequest got = ReadRequest(row.pdu);
        EXPECT_EQ(got.exception, row.exception) << row.what;
        if (row.exception != 0) continue;
        EXPECT_EQ(got.address, row.address) << row.what;
        EXPECT_EQ(got.count, row.count) << row.what;
        EXPECT_EQ(got.values, row.values) << row.what;
    }
    EXPECT_EQ(ExceptionAnswer(Frame({0x84, 0, 0, 0, 1}), 1),
              (std::vector<uint8_t>{0, 7, 0, 0, 0, 3, 1, 0x84, 1}));
    EXPECT_EQ(ReadAnswer(Frame({2, 0, 0, 0, 10}), true, {1, 0, 0, 0, 0, 0, 0, 0, 1, 1}),
              (std::vector<uint8_t>{0, 7, 0, 0, 0, 5, 1, 2, 2, 0x01, 0x03}));
    EXPECT_EQ(WriteAnswer(Frame({16, 0x03, 0xFC, 0, 2, 4, 0, 9, 0, 13})),
              (std::vector<uint8_t>{0, 7, 0, 0, 0, 6, 1, 16, 0x03, 0xFC, 0, 2}));
}

// The face's address, the peers it admits, and its counts said in words (one of a thing
// singular).
TEST(BridgeModbusSettings, EndpointsPeersAndCounts) {
    ModbusCounts counts;
    counts.connections = 1;
    counts.requests = 2;
    counts.refused = 1;
    EXPECT_EQ(ModbusCountsText(counts),
              "1 connection, 2 requests, 0 exceptions, 1 connection refused");
    for (const auto& [text, address, port] :
         std::vector<std::tuple<std::string, std::string, int>>{{"1502", "127.0.0.1", 1502},
                                                                {":1502", "127.0.0.1", 1502},
                                                                {"0.0.0.0", "0.0.0.0", 502},
                                                                {"10.1.2.3:15", "10.1.2.3", 15}}) {
        std::string error;
        const auto endpoint = ParseModbusEndpoint(text, &error);
        ASSERT_TRUE(endpoint) << text << ": " << error;
        EXPECT_EQ(endpoint->address, address);
        EXPECT_EQ(endpoint->port, port);
    }
    const struct {
        const char* allow;
        uint32_t peer;
        bool admitted;
    } peers[] = {
        {"0.0.0.0/0", 0x0A010203, true},   {"10.0.0.0/8", 0x0A010203, true},
        {"10.0.0.0/8", 0x0B010203, false}, {"10.1.2.3", 0x0A010203, true},
        {"10.1.2.3", 0x0A010204, false},   {"192.168.1.0/24,10.1.2.3", 0x0A010203, true},
        {"10.1.2.3/31", 0x0A010202, true},
    };
    for (const auto& row : peers) {
        std::string error;
        const auto allowed = ParseModbusPeers(row.allow, &error);
        ASSERT_TRUE(allowed) << row.allow << ": " << error;
        bool admitted = false;
        for (const ModbusPeers& network : *allowed) admitted = admitted || network.Admits(row.peer);
        EXPECT_EQ(admitted, row.admitted) << row.allow;
    }
}

}  // namespace
