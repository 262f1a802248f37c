// The tool's own pieces: gate forms and companions, texts, port names, the picture.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <roderavo/kor.h>
#include <unistd.h>

#include <sys/wait.h>

#include <filesystem>

#include "gates/gate_forms.h"
#include "line/line_messages.h"
#include "line/port.h"
#include "output/json_out.h"
#include "output/text.h"
#include "poll/live_view.h"
#include "support/pty_peer.h"
#include "system/terminal.h"

using namespace roderavo::tool;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

namespace {

TEST(GateForms, CompanionsOfTheListReadsAndTheAlarmReport) {
    EXPECT_EQ(CompanionGates("ALS121", 1), std::vector<std::string>{"TAS121"});
    EXPECT_EQ(CompanionGates("als4100", 4), std::vector<std::string>{"TAS4100"});
    const auto sac0 = CompanionGates("AAS0", 0);
    ASSERT_EQ(sac0.size(), 20u);
    EXPECT_EQ(sac0.front(), "SAC001");
    EXPECT_EQ(sac0[8], "SAC009");
    EXPECT_EQ(sac0[9], "SAC010");
    EXPECT_EQ(sac0.back(), "SAC020");
    const auto svc4 = CompanionGates("vls4", 4);
    EXPECT_EQ(svc4.front(), "SVC481");
    EXPECT_EQ(svc4.back(), "SVC4100");
    EXPECT_TRUE(CompanionGates("VER1", 1).empty());
    EXPECT_TRUE(CompanionGates("KEY1", 1).empty());
}

TEST(GateForms, ValueKindsAndHints) {
    for (const char* text : {"VER1", "TAD0", "JOY3", "IHK2075", "INHPAIR1", "PRESET2", "tas005"})
        EXPECT_EQ(ValueKindOf(text), KOR_VALUE_TEXT) << text;
    for (const char* text : {"KEY1", "PTZ0", "CAA", "ALS005", "AAS1", "VLS1", "SAC005", "XYZ"})
        EXPECT_EQ(ValueKindOf(text), KOR_VALUE_NUMBER) << text;
    EXPECT_THAT(AddressHint("XYZ1"), HasSubstr("no gate form begins with 'XYZ'"));
    EXPECT_THAT(AddressHint("PRESET9"), HasSubstr("PRESET m, e.g. PRESET2"));
    EXPECT_THAT(ValueHint("TAD0"), HasSubstr("or now"));
    EXPECT_EQ(ValueHint("VER1"), "this gate cannot be written");
}

// Joining a group helps only where the group may use the device; root's group never.
TEST(PortAdvice, PermissionDeniedGivesTheGroupOrAUdevRule) {
    struct Case {
        unsigned mode, gid;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {020660, 20, "sudo usermod -aG "},
        {020600, 20, "mode 0600): no group other than root's may use it"},
        {020660, 0, "KERNEL==\"ttyUSB0\", GROUP=\"dialout\", MODE=\"0660\""},
    };
    for (const Case& c : cases) {
        const std::string advice = PermissionAdvice("/dev/ttyUSB0", c.mode, 0, c.gid);
        EXPECT_THAT(advice, HasSubstr(c.expected)) << advice;
        EXPECT_THAT(advice, Not(HasSubstr("usermod -aG root"))) << advice;
    }
}

TEST(Texts, CodePage437BecomesUtf8) {
    EXPECT_EQ(Cp437ToUtf8("\xDA\xC4\xBF"), "\u250C\u2500\u2510");
    EXPECT_EQ(Cp437ToUtf8("\xB3 \xDB\xB2\xB1\xB0 \xC0\xD9"),
              "\u2502 \u2588\u2593\u2592\u2591 \u2514\u2518");
    EXPECT_EQ(Cp437ToUtf8("K O R\n"), "K O R\n");
    EXPECT_EQ(Cp437ToUtf8("\x80\xFF"), "\u00C7\u00A0");
}

// What the user typed stays whole: escaped for JSON, UTF-8 kept, bytes that are not
// UTF-8 shown as U+FFFD; a head of a text never ends inside a character.
TEST(Texts, JsonAndUtf8KeepCharactersWhole) {
    struct Case {
        std::string text, json, head3;
    };
    const Case cases[] = {
        {"a\"b\\c\n", R"("a\"b\\c\n")", "a\"b"},
        {std::string("\x01", 1), R"("\u0001")", std::string("\x01", 1)},
        {"KE\u00C41", "\"KE\u00C41\"", "KE\u00C4"},
        {"\u20AC\u20ACx\u20AC", "\"\u20AC\u20ACx\u20AC\"", "\u20AC\u20ACx"},
        {"AB\xB3", "\"AB\uFFFD\"", "AB\xB3"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(JsonText(c.text), c.json) << c.text;
        EXPECT_EQ(Utf8Head(c.text, 3), c.head3) << c.text;
    }
    EXPECT_EQ(JsonText(JsonNumber(1.0)), "1");
    EXPECT_EQ(JsonText(JsonNumber(std::nullopt)), "null");
}

TEST(Texts, TheClockTextOfATadWrite) {
    std::tm t{};
    t.tm_mday = 6;
    t.tm_mon = 10;
    t.tm_year = 100;
    t.tm_hour = 8;
    t.tm_min = 12;
    t.tm_sec = 33;
    EXPECT_EQ(ClockValueText(t), "(06,11,2000,08,12,33)");
    t.tm_sec = 60;  // a leap second is not a value the multiplexer takes
    EXPECT_EQ(ClockValueText(t), "(06,11,2000,08,12,59)");
    EXPECT_EQ(ClockValueNow().size(), 21u);
}

TEST(Texts, NumbersAndDurations) {
    EXPECT_EQ(ParseNumberValue("53"), 53);
    EXPECT_EQ(ParseNumberValue("0x80"), 128);
    EXPECT_EQ(ParseNumberValue("65535"), 65535);
    for (const char* bad : {"", "65536", "-1", "5x", "abc", "0x"})
        EXPECT_FALSE(ParseNumberValue(bad).has_value()) << bad;
    EXPECT_EQ(ParseDurationMs("500ms", false), 500.0);
    EXPECT_EQ(ParseDurationMs("2s", false), 2000.0);
    EXPECT_EQ(ParseDurationMs("1.5", true), 1500.0);
    EXPECT_EQ(ParseDurationMs("250", false), 250.0);
    for (const char* bad : {"", "s", "-1s", "fast", "1e99"})
        EXPECT_FALSE(ParseDurationMs(bad, true).has_value()) << bad;
}

TEST(PortNames, ShortNamesPassAndLongLinksResolveToTheDevice) {
    EXPECT_EQ(ResolvePortName("ttyUSB0").driverName, "ttyUSB0");
    EXPECT_EQ(ResolvePortName("ttyUSB0").devicePath, "/dev/ttyUSB0");
    EXPECT_EQ(ResolvePortName("pts/3").driverName, "pts/3");
    EXPECT_EQ(ResolvePortName("/dev/ttyMUX").driverName, "/dev/ttyMUX");
    EXPECT_EQ(ResolvePortName("NUL").driverName, "NUL");
    EXPECT_FALSE(ResolvePortName("").error.empty());

    const auto dir =
        std::filesystem::temp_directory_path() / ("roderavo-port-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::filesystem::create_symlink("/dev/null", dir / "usb-FTDI_FT232R_USB_UART_A12-if00-port0");
    std::filesystem::create_symlink("/dev/null", dir / "m");
    const auto resolved =
        ResolvePortName((dir / "usb-FTDI_FT232R_USB_UART_A12-if00-port0").string());
    EXPECT_EQ(resolved.driverName, "null");  // /dev/null, given relative to /dev/
    EXPECT_EQ(resolved.devicePath, "/dev/null");
    EXPECT_TRUE(resolved.error.empty());
    const std::string shortLink = (dir / "m").string();
    if (shortLink.size() > kMaxPortName) {
        EXPECT_EQ(ResolvePortName(shortLink).driverName, "null");
    }
    EXPECT_THAT(ResolvePortName("/dev/serial/by-id/usb-nothing-here-at-all").error,
                HasSubstr("there is no device"));
    std::filesystem::remove_all(dir);
}

TEST(PortNames, DiagnosisOfAMissingDeviceListsTheSerialDevices) {
    // The errors the driver's open gets for each.
    const std::string why = DiagnosePort("/dev/ttyUSB99", ENOENT);
    EXPECT_THAT(why, HasSubstr("there is no device /dev/ttyUSB99"));
    EXPECT_THAT(DiagnosePort("/tmp", EISDIR),
                HasSubstr("/tmp is a directory, not a serial device"));
    EXPECT_THAT(DiagnosePort("/dev/null", ENOTTY), HasSubstr("is not a serial device"));
}

// A read that failed on the line: a port that failed is named with the system's
// words; a multiplexer that kept quiet, or answered unusably, is advised on.
TEST(PortNames, ALineFailureSaysWhatFailed) {
    const struct {
        bool malformed;
        int systemError;
        const char* says;
    } cases[] = {
        {false, EIO,
         "read VER1: the port ttyUSB0 failed (Input/output error, errno 5, 5 attempts)"},
        {false, 0, "read VER1: no answer from multiplexer 1 on port ttyUSB0 (5 attempts"},
        {true, 0, "multiplexer 1 on port ttyUSB0 answered, but not with a usable frame"},
    };
    for (const auto& c : cases)
        EXPECT_THAT(
            LineFailureMessage("read", "VER1", 1, "ttyUSB0", 1000, c.malformed, c.systemError),
            HasSubstr(c.says));
}

// A user outside the device's group: run the diagnosis as "nobody" in a child.
TEST(PortNames, DiagnosisOfPermissionDeniedNamesTheGroup) {
    if (getuid() != 0) GTEST_SKIP() << "needs root to become another user";
    roderavo_test::PtyPeer line;
    ASSERT_TRUE(line.Ok());
    const std::string device = line.Path();
    ASSERT_EQ(chown(device.c_str(), static_cast<uid_t>(-1), 20), 0);  // a group that is not root's
    ASSERT_EQ(chmod(device.c_str(), 0660), 0);
    int result[2];
    ASSERT_EQ(pipe(result), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        close(result[0]);
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
        const std::string why = DiagnosePort(device, EACCES);
        const ssize_t n = write(result[1], why.data(), why.size());
        _exit(n == static_cast<ssize_t>(why.size()) ? 0 : 4);
    }
    close(result[1]);
    std::string why;
    char buffer[512];
    ssize_t n = 0;
    while ((n = read(result[0], buffer, sizeof buffer)) > 0)
        why.append(buffer, static_cast<std::size_t>(n));
    close(result[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_THAT(why, HasSubstr("permission denied on " + device + " (group "));
    EXPECT_THAT(why, HasSubstr("sudo usermod -aG "));
}

TEST(LiveView, CellsShowAlarmBeforeVideoLossBeforeUnknown) {
    using O = std::optional<uint8_t>;
    EXPECT_EQ(LookOf(O{}, O{}), CameraLook::NotRead);
    EXPECT_EQ(LookOf(O{0x00}, O{0}), CameraLook::Fine);
    EXPECT_EQ(LookOf(O{0x20}, O{1}), CameraLook::Alarm);
    EXPECT_EQ(LookOf(O{0x2E}, O{0}), CameraLook::VideoLoss);
    EXPECT_EQ(LookOf(O{0x00}, O{1}), CameraLook::VideoLoss);
    EXPECT_EQ(LookOf(O{}, O{1}), CameraLook::VideoLoss);
    EXPECT_EQ(LookOf(O{0xFE}, O{0}), CameraLook::Unknown);
}

std::vector<MuxView> SampleMuxes() {
    MuxView ok;
    ok.mux = 1;
    ok.state = MuxState::Ok;
    ok.version = "AMUX 20CD V2.10";
    ok.clock = "06.11.2000 08:12:33 hrs";
    for (auto& cell : ok.alarm) cell = 0;
    for (auto& cell : ok.videoLoss) cell = 0;
    ok.alarm[6] = 0x20;
    ok.alarm[12] = 0x2E;
    ok.alarm[13] = 0xFE;
    ok.videoLoss[15] = 1;
    MuxView demoted;
    demoted.mux = 4;
    demoted.state = MuxState::Demoted;
    return {ok, demoted};
}

ViewHeader Header(std::string port, int intervalMs, uint64_t cycle, bool interactive) {
    ViewHeader header;
    header.port = std::move(port);
    header.pollIntervalMs = intervalMs;
    header.timeoutMs = 300;
    header.cycle = cycle;
    header.time = "2026-12-07 10:00:00";
    header.interactive = interactive;
    header.staleAfter = std::chrono::milliseconds(2 * intervalMs);
    return header;
}

TEST(LiveView, PlainRowsHoldTwentyCellsStateAgeVersionAndClock) {
    ViewHeader header = Header("pts/4 (simulator)", 1000, 7, false);
    auto muxes = SampleMuxes();
    header.now = PollClock::time_point{} + std::chrono::seconds(100);
    muxes[0].lastGood = header.now - std::chrono::milliseconds(1500);
    header.lastEvent = "10:00:00.000 mux 4 demoted after 3 failed cycles";
    const auto lines = RenderView(header, muxes, "mux 4 10:00:00 VER4: no answer", false);
    ASSERT_GE(lines.size(), 8u);
    EXPECT_EQ(lines[0],
              "roderavo poll | port pts/4 (simulator) | interval 1000 ms | time-out 300 ms | "
              "cycle 7 | 2026-12-07 10:00:00");
    EXPECT_EQ(lines[2].substr(0, 55), "MUX CAMERAS  1       5         10        15        20  ");
    EXPECT_EQ(lines[3],
              "  1  21-40   . . . . . . A . . . . . V ? . V . . . .   ok          1.5 s    "
              "AMUX 20CD V2.10   06.11.2000 08:12:33 hrs");
    EXPECT_EQ(lines[4].substr(0, 53), "  4  81-100  - - - - - - - - - - - - - - - - - - - - ");
    EXPECT_EQ(lines[4].substr(53), "  demoted     -        -                 -");
    // Demoted after it had answered: what was read last is not shown as fine.
    muxes[0].state = MuxState::Demoted;
    EXPECT_THAT(RenderView(header, muxes, "", false)[3],
                StartsWith("  1  21-40   ? ? ? ? ? ? ? ? ? ? ? ? ? ? ? ? ? ? ? ?   demoted"));
    EXPECT_THAT(lines[lines.size() - 2], HasSubstr("last error: mux 4 10:00:00 VER4: no answer"));
    EXPECT_EQ(lines.back(), "  last event: " + header.lastEvent);
    for (const auto& line : lines) EXPECT_THAT(line, Not(HasSubstr("\x1b")));
}

// An ok multiplexer whose last good read is older than two cycles shows as stale.
TEST(LiveView, DataOlderThanTwoCyclesIsStaleNotOk) {
    struct Case {
        int ageMs;
        std::string state;
    };
    for (const Case& c : std::vector<Case>{{1999, "ok      "}, {2001, "stale   "}}) {
        ViewHeader header = Header("ttyS0", 1000, 3, false);
        header.now = PollClock::time_point{} + std::chrono::seconds(100);
        auto muxes = SampleMuxes();
        muxes[0].lastGood = header.now - std::chrono::milliseconds(c.ageMs);
        const auto lines = RenderView(header, muxes, "", false);
        EXPECT_EQ(lines[3].substr(55, 8), c.state) << c.ageMs;
    }
}

TEST(LiveView, ColourRowsKeepTheSymbols) {
    const auto lines = RenderView(Header("ttyUSB0", 500, 1, true), SampleMuxes(), "", true);
    EXPECT_THAT(lines[3], HasSubstr("\x1b[1;37;41mA\x1b[0m"));
    EXPECT_THAT(lines[3], HasSubstr("\x1b[1;30;43mV\x1b[0m"));
    EXPECT_THAT(lines.back(), HasSubstr("Ctrl-C or q to stop"));
}

TEST(LiveView, LinesAreCutToTheTerminalWidthKeepingEscapes) {
    EXPECT_EQ(CutToWidth("abcdef", 4), "abcd");
    EXPECT_EQ(CutToWidth("abc", 4), "abc");
    EXPECT_EQ(CutToWidth("\x1b[1;37;41mA\x1b[0m bc", 2), "\x1b[1;37;41mA\x1b[0m ");
    EXPECT_EQ(CutToWidth("a\x1b[32mbc\x1b[0m", 2), "a\x1b[32mb\x1b[0m");
    EXPECT_EQ(CutToWidth("\u2502x\u2502", 2), "\u2502x");
}

TEST(LiveView, StatisticsPerMultiplexerWithWhatTheLineDid) {
    auto muxes = SampleMuxes();
    muxes[0].requests = 40;
    muxes[0].good = 39;
    muxes[0].errors = 1;
    muxes[0].line = {.requests = 50,
                     .retries = 10,
                     .goodReplies = 40,
                     .timeouts = 2,
                     .badChecksums = 7,
                     .wrongSource = 1,
                     .otherBad = 0};
    struct Case {
        uint64_t cycles;
        double seconds;
        std::string head;
    };
    const Case cases[] = {
        {10, 10.04, "--- port ttyUSB0: 10 cycles in 10.0 s ---"},
        {1, 0.21, "--- port ttyUSB0: 1 cycle in 0.2 s ---"},
        {0, 0.0, "--- port ttyUSB0: 0 cycles in 0.0 s ---"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RenderStatistics(muxes, c.cycles, c.seconds, "ttyUSB0")[0], c.head);
    const auto lines = RenderStatistics(muxes, 10, 10.04, "ttyUSB0");
    EXPECT_EQ(lines[1],
              "mux  reads  good  failed   loss  frames  retries  time-outs  bad sums  wrong src  "
              "line loss  state");
    EXPECT_EQ(lines[2],
              "  1     40    39       1    2.5%      50       10          2         7          1 "
              "     20.0%  ok");
    EXPECT_EQ(lines[3],
              "  4      0     0       0    0.0%       0        0          0         0          0 "
              "      0.0%  demoted");
}

}  // namespace
