// The tool end to end: info, parse, the reads of every status gate and the writes
// of every command against the simulator on a pty, and polling for a few cycles.
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <regex>

#include "tool_fixture.h"

using ::testing::ContainsRegex;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

namespace {

using Bytes = std::vector<uint8_t>;

// A JSON record without the host's time it begins with; it must have one.
std::string Untimed(const std::string& record) {
    static const std::regex stamp(
        R"(^\{"time":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:?\d\d",)");
    EXPECT_TRUE(std::regex_search(record, stamp)) << record;
    return std::regex_replace(record, stamp, "{");
}

TEST(ToolInfo, ShowsTheDescriptionWithTheBannerInUtf8) {
    const ToolRun run = RunTool({"info", "--driver", RODERAVO_DRIVER});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("name      Amux"));
    EXPECT_THAT(run.out, HasSubstr("9600 baud, 8 data bits, parity none, 1 stop bit"));
    EXPECT_THAT(run.out, HasSubstr("K O R ZUR"));
    EXPECT_THAT(run.out, HasSubstr("\u250C\u2500\u2500"));  // the top border, code page 437 DA C4
    EXPECT_THAT(run.out, HasSubstr("\u2588\u2588\u2593"));  // DB DB B2
}

TEST(ToolInfo, FindsTheDriverOfTheBuildTreeByDefault) {
    const ToolRun run = RunTool({"info", "--json"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("\"name\":\"Amux\""));
    EXPECT_THAT(run.out, HasSubstr("libroderavo.so"));
}

TEST(ToolParse, AcceptsEveryFormWithItsWords) {
    struct Case {
        std::string address, expected;
    };
    const std::vector<Case> cases = {
        {"KEY0", "plcNum 0  access class 1 (write only)  number"},
        {"ptz3", "plcNum 3  access class 1 (write only)  number"},
        {"ALS121", "plcNum 1  access class 2 (read only)  number"},
        {"CAA", "plcNum 0  access class 1 (write only)  number"},
        {"AAS4", "plcNum 4  access class 2 (read only)  number"},
        {"VLS2", "plcNum 2  access class 2 (read only)  number"},
        {"VER1", "plcNum 1  access class 2 (read only)  text"},
        {"IHK2075", "plcNum 2  access class 1 (write only)  text"},
        {"TAD1", "plcNum 1  access class 3 (read and write)  text"},
        {"JOY3", "plcNum 3  access class 1 (write only)  text"},
        {"INHPAIR3", "plcNum 3  access class 1 (write only)  text"},
        {"PRESET0", "plcNum 0  access class 1 (write only)  text"},
        {"TAS361", "plcNum 3  access class 0 (companion)  text"},
        {"SAC241", "plcNum 2  access class 0 (companion)  number"},
        {"SVC005", "plcNum 0  access class 0 (companion)  number"},
        {"ALS4100", "plcNum 4  access class 2 (read only)  number"},
        {"TAS4100", "plcNum 4  access class 0 (companion)  text"},
        {"SAC4100", "plcNum 4  access class 0 (companion)  number"},
        {"SVC4100", "plcNum 4  access class 0 (companion)  number"},
    };
    std::vector<std::string> args = {"parse", "--driver", RODERAVO_DRIVER};
    for (const auto& c : cases) args.push_back(c.address);
    const ToolRun run = RunTool(args);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    for (const auto& c : cases) {
        EXPECT_THAT(run.out, HasSubstr(c.address + "  accepted  " + c.expected + "\n"));
        EXPECT_THAT(run.out, HasSubstr("VERODI: GAS " + c.address + " pass the Parse function."));
    }
}

TEST(ToolParse, RefusesWrongFormsWithExitCodeOne) {
    for (const std::string address : {"KEY5", "ALS021", "CAA0", "IHK0071", "ALS3100", "XYZ1"}) {
        const ToolRun run = RunTool({"parse", "--driver", RODERAVO_DRIVER, address});
        EXPECT_EQ(run.exitCode, 1) << address;
        EXPECT_THAT(run.out, HasSubstr(address + "  refused")) << address;
    }
    const ToolRun unknown = RunTool({"parse", "--json", "--driver", RODERAVO_DRIVER, "XYZ1"});
    EXPECT_THAT(unknown.out, HasSubstr("\"log\":[\"VERODI: invalid chars in address\"]"));
    const ToolRun kind =
        RunTool({"parse", "--kind", "number", "--driver", RODERAVO_DRIVER, "VER2"});
    EXPECT_EQ(kind.exitCode, 1);
}

TEST_F(ToolOnSimulator, ReadsEveryStatusGateWithItsCompanions) {
    const ToolRun run =
        Run("read", {"--json", "VER1", "TAD1", "ALS127", "ALS121", "AAS1", "VLS1", "ALS4100"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 7u) << run.out;
    EXPECT_EQ(Untimed(lines[0]), R"({"gate":"VER1","result":0,"value":"TEST V1"})");
    EXPECT_EQ(Untimed(lines[1]), R"({"gate":"TAD1","result":0,"value":"06.11.2000 08:12:33 hrs"})");
    EXPECT_EQ(
        Untimed(lines[2]),
        R"({"gate":"ALS127","result":0,"value":32,"companions":{"TAS127":"06.11.2000 08:12:33 hrs Alarm"}})");
    EXPECT_EQ(Untimed(lines[3]),
              R"({"gate":"ALS121","result":0,"value":0,"companions":{"TAS121":null}})");
    EXPECT_THAT(Untimed(lines[4]),
                HasSubstr(R"({"gate":"AAS1","result":0,"value":1,"companions":{"SAC121":0,)"));
    EXPECT_THAT(lines[4], HasSubstr(R"("SAC127":32,)"));
    EXPECT_THAT(lines[4], HasSubstr(R"("SAC133":46,)"));
    EXPECT_THAT(lines[4], HasSubstr(R"("SAC140":0})"));
    EXPECT_THAT(lines[5], HasSubstr(R"("SVC133":1,)"));
    EXPECT_THAT(lines[5], HasSubstr(R"("SVC132":0,)"));
    EXPECT_THAT(lines[6], HasSubstr(R"("value":32,"companions":{"TAS4100":")"));
    EXPECT_THAT(lines[6], HasSubstr(R"(hrs Alarm"})"));
}

// Every JSON record carries the host's time, as poll's do; failures too.
TEST_F(ToolOnSimulator, EveryJsonRecordBeginsWithTheHostsTime) {
    const ToolRun runs[] = {
        RunTool({"info", "--json", "--driver", RODERAVO_DRIVER}),
        RunTool({"parse", "--json", "--driver", RODERAVO_DRIVER, "VER1", "XYZ1"}),
        Run("read", {"--json", "VER1", "TAD1"}),
        Run("read", {"--json", "KEY1"}),  // refused: an error record
        Run("write", {"--json", "KEY1=53", "KEY2=53"}),
    };
    for (const ToolRun& run : runs) {
        const auto lines = Lines(run.out);
        EXPECT_FALSE(lines.empty()) << run.err;
        for (const std::string& line : lines) Untimed(line);
    }
}

TEST_F(ToolOnSimulator, ReadPrintsPlainValues) {
    const ToolRun run = Run("read", {"AAS4", "ALS127", "VER1"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("AAS4 = 1\n"));
    EXPECT_THAT(run.out, HasSubstr("  SAC4100 = 32 (Alarm)\n"));
    EXPECT_THAT(run.out,
                HasSubstr("ALS127 = 32 (Alarm)\n  TAS127 = 06.11.2000 08:12:33 hrs Alarm\n"));
    EXPECT_THAT(run.out, HasSubstr("VER1 = TEST V1\n"));
}

TEST_F(ToolOnSimulator, WritesEveryCommandWithTheFramesOnTheWire) {
    struct Case {
        std::string assignment;
        std::vector<Bytes> frames;
    };
    const std::vector<Case> cases = {
        {"KEY1=53", {{0xFF, 0x07, 0x11, 0x06, 0x3E, 0x10, 0x35, 0x5F}}},
        {"PTZ0=128", {{0xFF, 0x07, 0x01, 0x16, 0x3E, 0x10, 0x80, 0x14}}},
        {"CAA=2", {{0xFF, 0x06, 0x21, 0x4D, 0x3E, 0x10, 0x3E}}},
        {"IHK2075=(9,13)", {{0xFF, 0x09, 0x21, 0x17, 0x3E, 0x10, 0x4B, 0x09, 0x0D, 0x10}}},
        {"JOY3=(10,-20,30)", {{0xFF, 0x09, 0x31, 0x18, 0x3E, 0x10, 0x0A, 0xEC, 0x1E, 0x4C}}},
        {"TAD0=(31,12,2000,23,59,59)",
         {{0xFF, 0x0E, 0x01, 0x07, 0x3E, 0x10, 0x00, 0x20, 0x12, 0x31, 0x01, 0x23, 0x59, 0x59,
           0x63}}},
        {"INHPAIR4=(48,49,50,51,52,53)",
         {{0xFF, 0x09, 0x41, 0x17, 0x3E, 0x10, 0x32, 0x30, 0x31, 0xBE},
          {0xFF, 0x09, 0x41, 0x17, 0x3E, 0x10, 0x35, 0x33, 0x34, 0xB5}}},
        {"PRESET2=(9,13)",
         {{0xFF, 0x07, 0x21, 0x06, 0x3E, 0x10, 0x09, 0x7B},
          {0xFF, 0x07, 0x21, 0x06, 0x3E, 0x10, 0x0D, 0x77},
          {0xFF, 0x07, 0x21, 0x16, 0x3E, 0x10, 0x14, 0x60}}},
    };
    std::vector<std::string> args;
    std::vector<Bytes> expected;
    for (const auto& c : cases) {
        args.push_back(c.assignment);
        expected.insert(expected.end(), c.frames.begin(), c.frames.end());
    }
    const ToolRun run = Run("write", args);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (const auto& c : cases) {
        const auto equals = c.assignment.find('=');
        EXPECT_THAT(run.out, HasSubstr(c.assignment.substr(0, equals) + " = " +
                                       c.assignment.substr(equals + 1) + "  done\n"));
    }
    std::vector<Bytes> received;
    for (const auto& frame : sim.Received()) received.push_back(frame.bytes);
    EXPECT_EQ(received, expected);
}

TEST_F(ToolOnSimulator, TheLogFileTakesEveryDriverLine) {
    const std::string file = "/tmp/roderavo-log-" + std::to_string(getpid()) + ".txt";
    const ToolRun run = Run("read", {"--log", file, "VER1"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    std::string text;
    if (FILE* in = std::fopen(file.c_str(), "r")) {
        char buffer[4096];
        std::size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) text.append(buffer, n);
        std::fclose(in);
    }
    std::remove(file.c_str());
    EXPECT_THAT(text, HasSubstr("event VERODI: ZUR Driver loaded successfully\n"));
    EXPECT_THAT(text, HasSubstr("trace VERODI: Entered KorMain(), with function 4\n"));
    EXPECT_THAT(run.err, Not(HasSubstr("Entered KorMain")));  // traces only with -v
}

TEST_F(ToolOnSimulator, WritesTheClockNowInLocalTime) {
    const std::time_t before = std::time(nullptr);
    const ToolRun run = Run("write", {"--json", "TAD2=now"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::tm local{};
    localtime_r(&before, &local);
    char year[16];
    std::snprintf(year, sizeof year, ",%04d,", local.tm_year + 1900);
    EXPECT_THAT(Untimed(run.out), HasSubstr(R"({"gate":"TAD2","value":"()"));
    EXPECT_THAT(run.out, HasSubstr(year));
    const auto clock = sim.ClockBytes(2);
    EXPECT_EQ(clock[0], ((local.tm_year % 100) / 10) * 16 + local.tm_year % 10);
}

TEST_F(ToolOnSimulator, PollRunsCyclesAndShowsCamerasAndStatistics) {
    const ToolRun run = Run("poll", {"--cycles", "2", "--poll-interval", "100ms"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("cycle 2"));
    EXPECT_THAT(run.out, Not(HasSubstr("\x1b[")));  // plain text off a terminal
    // The row holds the age of the multiplexer's data between its state and version.
    EXPECT_THAT(run.out,
                ContainsRegex("  1  21-40   . . . . . . A . . . . . V . . . . . . .   ok   "
                              "       [0-9]+ ms +TEST V1           06.11.2000 08:12:33 hrs"));
    EXPECT_THAT(run.out, HasSubstr("  4  81-100  . . . . . . . . . . . . . . . . . . . A"));
    // Four gates in the first cycle, the alarms and video losses in the second.
    EXPECT_THAT(run.out, HasSubstr("  1      6     6       0    0.0%       6        0          0 "
                                   "        0          0       0.0%  ok"));
}

// An interval of 0 polls continuously; the read time-out is then the 1000 ms of a
// fresh port unless --timeout says otherwise.
TEST_F(ToolOnSimulator, PollAtIntervalZeroRunsOneCycleAfterTheOther) {
    const ToolRun run = Run("poll", {"--cycles", "3", "--poll-interval", "0"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("interval 0 ms | time-out 1000 ms | cycle 3"));
}

TEST_F(ToolOnSimulator, PollInJsonGivesOneObjectPerMultiplexerAndCycle) {
    sim.SetCameraStateByte(34, 0xFE);  // a state the multiplexer does not know comes as it is
    const ToolRun run = Run("poll", {"--json", "--cycles", "1", "--mux", "1,4"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 3u) << run.out;
    // Every record starts with the host's time.
    for (const auto& line : lines) EXPECT_THAT(line, StartsWith(R"({"time":"20)"));
    EXPECT_THAT(lines[0], HasSubstr(R"(,"cycle":1,"mux":1,"state":"ok","age":0.)"));
    EXPECT_THAT(lines[0], HasSubstr(R"(,"version":"TEST V1")"));
    EXPECT_THAT(lines[0], HasSubstr(R"("alarm":[0,0,0,0,0,0,32,0,0,0,0,0,46,254,)"));
    EXPECT_THAT(lines[1], HasSubstr(R"("mux":4)"));
    EXPECT_THAT(lines[2], HasSubstr(R"(,"statistics":[{"mux":1,"requests":4,"good":4,"errors":0,)"
                                    R"("loss":0.0,"frames":4,"retries":0,"timeouts":0,)"));
}

TEST_F(ToolOnSimulator, PollDemotesAMultiplexerThatDoesNotAnswer) {
    sim.SetPresent(3, false);
    const ToolRun run = Run("poll", {"--cycles", "4", "--mux", "1,3", "--poll-interval", "50ms",
                                     "--demote-after", "2", "--demote-for", "60s"});
    EXPECT_EQ(run.exitCode, 2) << run.err;
    // Mux 3 is asked in cycle 1 (AAS only), and as it never answered it is demoted at
    // once; on the line that is five frames, four of them retries, all timed out.
    EXPECT_THAT(run.out, HasSubstr("  3      1     0       1  100.0%       5        4          5 "
                                   "        0          0     100.0%  demoted"));
    EXPECT_THAT(run.out, HasSubstr("  1     10    10       0    0.0%      10        0          0 "
                                   "        0          0       0.0%  ok"));
    EXPECT_THAT(run.err,
                ContainsRegex("[0-9:.]{12} roderavo: mux 3 demoted: it has not answered since the "
                              "start"));
    EXPECT_THAT(run.out, HasSubstr("AAS3: no answer"));
    EXPECT_THAT(run.err, HasSubstr("not every multiplexer answered"));
    // In JSON: demoted, and nothing was read of its cameras.
    const ToolRun json = Run("poll", {"--json", "--cycles", "1", "--mux", "3"});
    EXPECT_EQ(json.exitCode, 2);
    EXPECT_THAT(json.out, HasSubstr(R"("mux":3,"state":"demoted","age":null,)"));
    EXPECT_THAT(json.out, HasSubstr(R"("alarm":[null,null,)"));
}

}  // namespace
