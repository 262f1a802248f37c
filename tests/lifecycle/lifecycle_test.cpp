// The instance lifecycle through KorMain, with the reference host library and a
// pseudo-terminal as the serial line.
#include <gtest/gtest.h>
#include <zanpro/host.h>
#include <zanpro/zanpro.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <functional>
#include <string>

#include "lifecycle/client_name.h"
#include "serial/comm.h"
#include "support/host_records.h"
#include "support/pty_peer.h"

namespace {

using namespace roderavo;
using roderavo_test::PtyPeer;
using roderavo_test::PutName;
using Lines = std::vector<zanpro::LogLine>;

static_assert(FormatClientName(3)[11] == '3' && FormatClientName(3)[12] == '\0');

// The event lines (level 32) of the log, taken.
Lines Events() {
    Lines events;
    for (const zanpro::LogLine& line : zanpro::TakeLog())
        if (line.level == 32) events.push_back(line);
    return events;
}

// The read time-out of an open port in milliseconds, read back by setting it again.
uint32_t ReadTimeoutMs(PortHandle handle) {
    const uint32_t tens = CommSetReadTimeout(handle, 100);
    CommSetReadTimeout(handle, tens);
    return tens * 10;
}

class Lifecycle : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(peer.Ok());
        ASSERT_TRUE(other.Ok());
        zanpro::Reset();
    }
    void TearDown() override {
        if (context.PortHandle != 0) CommClose(context.PortHandle);
        zanpro::Reset();
    }
    int32_t Call(KorFunction function, void* params = nullptr, int32_t instance = 7) {
        KorCall call{&context, function, instance, 0, params};
        return KorMain(&call);
    }
    InitParams MakeInit(const std::string& port, int32_t pollInterval, uint32_t open = 1) {
        return roderavo_test::MakeInitParams(port, pollInterval, open);
    }
    SetPortParams MakeSetPort(const std::string& port, int32_t pollInterval) {
        SetPortParams params{};
        PutName(params.PortName, port);
        params.PollInterval = pollInterval;
        params.BaudRate = 19200;
        params.DataBits = 8;
        params.StopBits = 2;
        params.Parity = 2;
        return params;
    }
    bool ClientExists(const std::string& name) { return zanpro::ClientId(name).has_value(); }

    PtyPeer peer;
    PtyPeer other;
    DriverContext context{};
};

TEST_F(Lifecycle, InitOpensThePortAndRegistersTheClient) {
    InitParams params = MakeInit(peer.PortName(), 50);
    context.PortFlag = 55;
    ASSERT_EQ(Call(KOR_FUNC_INIT, &params), KOR_OK);
    EXPECT_EQ(zanpro::ClientNames(), std::vector<std::string>{"VERODI No_07"});
    EXPECT_EQ(zanpro::ClientId("VERODI No_07"), context.ClientId);
    EXPECT_NE(context.PortHandle, 0U);
    EXPECT_EQ(context.PortFlag, 0U);
    EXPECT_EQ(context.PollInterval, 100);
    EXPECT_EQ(ReadTimeoutMs(context.PortHandle), 500U);
    EXPECT_STREQ(context.Settings.PortName, peer.PortName().c_str());
    EXPECT_EQ(context.Settings.BaudRate, 9600);
    EXPECT_EQ(context.Settings.DataBits, 8);
    EXPECT_EQ(context.Settings.ControlFlags, 8);
    EXPECT_EQ(zanpro::TakeLog(), (Lines{{8, "VERODI: Entered KorMain(), with function 0"},
                                        {32, "VERODI: ZUR Driver loaded successfully"}}));
}

TEST_F(Lifecycle, InitPollIntervals) {
    struct Case {
        int32_t pollInterval;
        uint32_t timeoutMs;
        int32_t stored;
    };
    // At 0 and below the port keeps the 1000 ms of its open.
    const Case cases[] = {{50, 500, 100}, {250, 2500, 250}, {100, 1000, 100},    {1, 10, 100},
                          {0, 1000, 100}, {-5, 1000, 100},  {INT_MIN, 1000, 100}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pollInterval);
        zanpro::Reset();
        InitParams params = MakeInit(peer.PortName(), c.pollInterval);
        ASSERT_EQ(Call(KOR_FUNC_INIT, &params), KOR_OK);
        EXPECT_EQ(ReadTimeoutMs(context.PortHandle), c.timeoutMs);
        EXPECT_EQ(context.PollInterval, c.stored);
        ASSERT_EQ(Call(KOR_FUNC_EXIT), KOR_OK);
    }
}

TEST_F(Lifecycle, InitClientNames) {
    const std::pair<int32_t, std::string> cases[] = {{3, "VERODI No_03"},
                                                     {0, "VERODI No_00"},
                                                     {42, "VERODI No_42"},
                                                     {123, "VERODI No_123"},
                                                     {-5, "VERODI No_-05"},
                                                     {INT_MAX, "VERODI No_214748364"},
                                                     {INT_MIN, "VERODI No_-21474836"}};
    for (const auto& [instance, name] : cases) {
        SCOPED_TRACE(name);
        zanpro::Reset();
        InitParams params = MakeInit("", 50, 0);
        ASSERT_EQ(Call(KOR_FUNC_INIT, &params, instance), KOR_OK);
        EXPECT_EQ(zanpro::ClientNames(), std::vector<std::string>{name});
    }
}

TEST_F(Lifecycle, InitWithoutPort) {
    InitParams params = MakeInit(peer.PortName(), 50, 0);
    context.PollInterval = 1234;
    context.PortFlag = 9;
    ASSERT_EQ(Call(KOR_FUNC_INIT, &params), KOR_OK);
    EXPECT_EQ(context.PortHandle, 0U);
    EXPECT_EQ(context.PortFlag, 0U);
    EXPECT_EQ(context.PollInterval, 1234);
    EXPECT_EQ(context.Settings.PortName[0], '\0');
    EXPECT_TRUE(ClientExists("VERODI No_07"));
    EXPECT_TRUE(Events().empty());
}

TEST_F(Lifecycle, InitRefusedByTheHostLibrary) {
    uint8_t id = 0;
    ASSERT_EQ(ZanMkClient("VERODI No_07", 1, 0, &id), 0);  // the name is taken
    InitParams params = MakeInit(peer.PortName(), 50);
    context.PortFlag = 77;
    EXPECT_EQ(Call(KOR_FUNC_INIT, &params), KOR_REFUSED);
    EXPECT_EQ(context.PortFlag, 77U);
    EXPECT_EQ(context.PortHandle, 0U);
    EXPECT_TRUE(Events().empty());
}

TEST_F(Lifecycle, InitWhenThePortDoesNotOpen) {
    InitParams params = MakeInit("ttyNoSuch", 50);
    context.PollInterval = 5;
    EXPECT_EQ(Call(KOR_FUNC_INIT, &params), KOR_COMM_FAILURE);
    EXPECT_EQ(Events(), (Lines{{32, "VERODI: Fail to open COMM port ttyNoSuch"}}));
    EXPECT_TRUE(ClientExists("VERODI No_07"));
    EXPECT_EQ(context.PortHandle, 0U);
    EXPECT_EQ(context.PortFlag, 1U);
    EXPECT_EQ(context.PollInterval, 5);
    EXPECT_EQ(context.Settings.PortName[0], '\0');

    // A 12-byte name without terminator opens nothing and is logged within bounds.
    std::memset(params.PortName, 'x', sizeof params.PortName);
    EXPECT_EQ(Call(KOR_FUNC_INIT, &params, 8), KOR_COMM_FAILURE);
    EXPECT_EQ(Events(), (Lines{{32, "VERODI: Fail to open COMM port xxxxxxxxxxxx"}}));

    // "nul" opens the null device, as Windows opens it, but only "NUL" skips the
    // line configuration, which the null device refuses: the open fails.
    params = MakeInit("nul", 50);
    EXPECT_EQ(Call(KOR_FUNC_INIT, &params, 9), KOR_COMM_FAILURE);
    EXPECT_EQ(Events(), (Lines{{32, "VERODI: Fail to open COMM port nul"}}));
    EXPECT_EQ(context.PortHandle, 0U);
}

TEST_F(Lifecycle, WarmStart) {
    EXPECT_EQ(Call(KOR_FUNC_WARM_START), KOR_OK);  // no port
    EXPECT_EQ(Events(), (Lines{{32, "VERODI: Warm Start."}}));

    InitParams params = MakeInit(peer.PortName(), 30);
    ASSERT_EQ(Call(KOR_FUNC_INIT, &params), KOR_OK);
    zanpro::ClearLog();
    ASSERT_TRUE(peer.Send({1, 2, 3}));
    ASSERT_TRUE(peer.WaitQueued(static_cast<int>(context.PortHandle), 3));
    EXPECT_EQ(Call(KOR_FUNC_WARM_START), KOR_OK);
    EXPECT_EQ(Events(), (Lines{{32, "VERODI: Warm Start."}}));
    EXPECT_EQ(ReadTimeoutMs(context.PortHandle), 300U);
    std::array<uint8_t, 1> byte{};
    CommSetReadTimeout(context.PortHandle, 5);
    EXPECT_FALSE(CommReceive(context.PortHandle, byte, 1));  // the stale bytes are gone

    peer.Vanish();
    EXPECT_EQ(Call(KOR_FUNC_WARM_START), KOR_COMM_FAILURE);
    EXPECT_EQ(Events(), (Lines{{32, "VERODI: Fail to flush comm port."}}));
}

TEST_F(Lifecycle, ClosePortAndExit) {
    // Without a port only the client goes.
    InitParams params = MakeInit(peer.PortName(), 50, 0);
    ASSERT_EQ(Call(KOR_FUNC_INIT, &params), KOR_OK);
    context.PortFlag = 4;
    EXPECT_EQ(Call(KOR_FUNC_CLOSE_PORT), KOR_OK);
    EXPECT_FALSE(ClientExists("VERODI No_07"));
    EXPECT_EQ(context.PortFlag, 4U);

    // With a port: closed, flagged, and the device free again.
    params = MakeInit(peer.PortName(), 50);
    ASSERT_EQ(Call(KOR_FUNC_INIT, &params), KOR_OK);
    zanpro::ClearLog();
    EXPECT_EQ(Call(KOR_FUNC_CLOSE_PORT), KOR_OK);
    EXPECT_EQ(context.PortHandle, 0U);
    EXPECT_EQ(context.PortFlag, 1U);
    EXPECT_FALSE(ClientExists("VERODI No_07"));
    PortHandle again = 0;
    EXPECT_EQ(CommOpen(peer.PortName().c_str(), 9600, 8, 0, 0, 8, &again), SerialStatus::Ok);
    EXPECT_EQ(CommClose(again), SerialStatus::Ok);

    // Exit after ClosePort: nothing to close, the client removal is repeated.
    EXPECT_EQ(Call(KOR_FUNC_EXIT), KOR_OK);
    EXPECT_TRUE(Events().empty());
}

TEST_F(Lifecycle, CloseFailureKeepsHandleAndClient) {
    InitParams params = MakeInit(peer.PortName(), 50, 0);
    ASSERT_EQ(Call(KOR_FUNC_INIT, &params), KOR_OK);
    zanpro::ClearLog();
    context.PortHandle = 4242;  // no port this driver has open
    context.PortFlag = 0;
    EXPECT_EQ(Call(KOR_FUNC_CLOSE_PORT), KOR_COMM_FAILURE);
    EXPECT_TRUE(Events().empty());
    EXPECT_EQ(Call(KOR_FUNC_EXIT), KOR_COMM_FAILURE);
    EXPECT_EQ(Events(), (Lines{{32, "VERODI:Fail to close comm."}}));
    EXPECT_EQ(context.PortHandle, 4242U);
    EXPECT_EQ(context.PortFlag, 0U);
    EXPECT_TRUE(ClientExists("VERODI No_07"));
    context.PortHandle = 0;
}

TEST_F(Lifecycle, OpenPortReopensWithTheOpeningTimeout) {
    InitParams params = MakeInit(peer.PortName(), 50);
    ASSERT_EQ(Call(KOR_FUNC_INIT, &params), KOR_OK);
    ASSERT_EQ(Call(KOR_FUNC_CLOSE_PORT), KOR_OK);
    context.PortFlag = 0;
    zanpro::ClearLog();
    EXPECT_EQ(Call(KOR_FUNC_OPEN_PORT), KOR_OK);
    EXPECT_NE(context.PortHandle, 0U);
    EXPECT_EQ(context.PortFlag, 1U);
    EXPECT_EQ(ReadTimeoutMs(context.PortHandle), 1000U);
    EXPECT_FALSE(ClientExists("VERODI No_07"));  // no new client

    // Open while open: the device is in use, nothing changes.
    const PortHandle first = context.PortHandle;
    context.PortFlag = 0;
    EXPECT_EQ(Call(KOR_FUNC_OPEN_PORT), KOR_COMM_FAILURE);
    EXPECT_EQ(context.PortHandle, first);
    EXPECT_EQ(context.PortFlag, 0U);
    EXPECT_TRUE(Events().empty());
}

TEST_F(Lifecycle, SetPortToTheSamePortFailsAndKeepsTheOldOneInUse) {
    InitParams params = MakeInit(peer.PortName(), 50);
    ASSERT_EQ(Call(KOR_FUNC_INIT, &params), KOR_OK);
    const PortHandle first = context.PortHandle;
    zanpro::ClearLog();
    SetPortParams set = MakeSetPort(peer.PortName(), 0);
    EXPECT_EQ(Call(KOR_FUNC_SET_PORT, &set), KOR_COMM_FAILURE);
    EXPECT_EQ(context.PortHandle, first);
    EXPECT_EQ(context.Settings.BaudRate, 19200);  // already the new line fields
    EXPECT_EQ(context.Settings.StopBits, 2);
    EXPECT_EQ(context.Settings.Parity, 2);
    EXPECT_EQ(context.Settings.ControlFlags, 8);
    EXPECT_EQ(context.PollInterval, 100);
    EXPECT_TRUE(ClientExists("VERODI No_07"));
    EXPECT_TRUE(Events().empty());
    std::array<uint8_t, 2> reply{};
    ASSERT_TRUE(peer.Send({5, 6}));
    EXPECT_TRUE(CommReceive(first, reply, 2));
}

TEST_F(Lifecycle, SetPortToANewPort) {
    InitParams params = MakeInit(peer.PortName(), 50);
    ASSERT_EQ(Call(KOR_FUNC_INIT, &params), KOR_OK);
    SetPortParams set = MakeSetPort(other.PortName(), 20);
    EXPECT_EQ(Call(KOR_FUNC_SET_PORT, &set), KOR_OK);
    EXPECT_EQ(context.PollInterval, 20);
    EXPECT_FALSE(ClientExists("VERODI No_07"));
    EXPECT_STREQ(context.Settings.PortName, other.PortName().c_str());
    EXPECT_EQ(context.PortFlag, 1U);  // from the close
    EXPECT_EQ(ReadTimeoutMs(context.PortHandle), 1000U);
    const std::array<uint8_t, 2> bytes{7, 8};
    EXPECT_TRUE(CommSend(context.PortHandle, bytes));
    EXPECT_EQ(other.Receive(2), (std::vector<uint8_t>{7, 8}));
    PortHandle old = 0;  // the old port was closed
    EXPECT_EQ(CommOpen(peer.PortName().c_str(), 9600, 8, 0, 0, 8, &old), SerialStatus::Ok);
    EXPECT_EQ(CommClose(old), SerialStatus::Ok);

    // A port that does not open: 2, no log line; PollInterval 0 keeps it.
    CommClose(context.PortHandle);
    context.PortHandle = 0;
    zanpro::ClearLog();
    set = MakeSetPort("ttyNoSuch", 0);
    EXPECT_EQ(Call(KOR_FUNC_SET_PORT, &set), KOR_COMM_FAILURE);
    EXPECT_EQ(context.PollInterval, 20);
    EXPECT_EQ(context.PortHandle, 0U);
    EXPECT_TRUE(Events().empty());
}

// Without an open port SetPort closes nothing, so the client stays, whatever the
// name; the new port opens with the line fields given and ControlFlags kept.
TEST_F(Lifecycle, SetPortWithoutAnOpenPortKeepsTheClient) {
    InitParams params = MakeInit(peer.PortName(), 50, 0);
    ASSERT_EQ(Call(KOR_FUNC_INIT, &params), KOR_OK);
    context.Settings.ControlFlags = 0x0303;
    context.PortFlag = 6;
    zanpro::ClearLog();
    SetPortParams set = MakeSetPort(other.PortName(), 0);
    EXPECT_EQ(Call(KOR_FUNC_SET_PORT, &set), KOR_OK);
    EXPECT_NE(context.PortHandle, 0U);
    EXPECT_EQ(context.PortFlag, 6U);
    EXPECT_EQ(context.Settings.ControlFlags, 0x0303);
    EXPECT_EQ(context.Settings.BaudRate, 19200);
    EXPECT_TRUE(ClientExists("VERODI No_07"));
    EXPECT_TRUE(Events().empty());
    const std::array<uint8_t, 1> byte{9};
    EXPECT_TRUE(CommSend(context.PortHandle, byte));
    EXPECT_EQ(other.Receive(1), (std::vector<uint8_t>{9}));
}

std::string Line(unsigned char left, const std::string& inner, unsigned char right) {
    return std::string(1, static_cast<char>(left)) + inner +
           std::string(1, static_cast<char>(right));
}

TEST(GetInfo, FillsTheRecordBeforeInitAndAlwaysTheSame) {
    zanpro::Reset();
    DriverInfo first{};
    DriverInfo second{};
    std::memset(&second, 0xA5, sizeof second);
    KorCall call{nullptr, KOR_FUNC_GET_INFO, 0, 0, &first};
    ASSERT_EQ(KorMain(&call), KOR_OK);
    call.Params = &second;
    ASSERT_EQ(KorMain(&call), KOR_OK);
    EXPECT_EQ(first.DriverName, second.DriverName);
    EXPECT_EQ(first.InfoBanner, second.InfoBanner);
    EXPECT_EQ(second.Word1, 70U);
    EXPECT_EQ(second.Word8, 32U);

    EXPECT_EQ(first.Word1, 70U);
    EXPECT_STREQ(first.DriverName, "Amux");
    EXPECT_EQ(first.Word4, 35U);
    EXPECT_EQ(first.Word5, 4U);
    EXPECT_EQ(first.BaudRate, 9600);
    EXPECT_EQ(first.DataBits, 8);
    EXPECT_EQ(first.StopBits, 0);
    EXPECT_EQ(first.Parity, 0);
    EXPECT_EQ(first.Word8, 32U);

    const std::string banner(first.InfoBanner);
    ASSERT_EQ(banner.size(), 379U);
    auto rep = [](unsigned char c, std::size_t n) { return std::string(n, static_cast<char>(c)); };
    const std::string title = " " + rep(0xDB, 5) + rep(0xB2, 6) + rep(0xB1, 6) + rep(0xB0, 6) +
                              "  K O R ZUR  " + rep(0xB0, 4) + rep(0xB1, 6) + rep(0xB2, 6) +
                              rep(0xDB, 5) + "  ";
    const std::string lines[] = {
        Line(0xDA, rep(0xC4, 60), 0xBF),
        Line(0xB3, title, 0xB3),
        Line(0xB3,
             std::string(12, ' ') + "Amux 20CD Multiplexer, Vision System." + std::string(11, ' '),
             0xB3),
        Line(0xB3,
             std::string(8, ' ') + "ADPRO Inter-Equipment Communication protocol" +
                 std::string(8, ' '),
             0xB3),
    };
    EXPECT_EQ(banner[0], '\n');
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_EQ(banner.substr(1 + 63 * i, 63), lines[i] + "\n") << "line " << i + 1;
    const std::string fifth = banner.substr(1 + 63 * 4, 63);
    EXPECT_EQ(static_cast<unsigned char>(fifth[0]), 0xB3);
    EXPECT_EQ(static_cast<unsigned char>(fifth[61]), 0xB3);
    EXPECT_EQ(fifth[62], '\n');
    for (std::size_t i = 1; i <= 60; ++i) EXPECT_TRUE(fifth[i] >= 0x20 && fifth[i] < 0x7F);
    EXPECT_EQ(banner.substr(1 + 63 * 5), Line(0xC0, rep(0xC4, 60), 0xD9) + "\n");
    EXPECT_TRUE(zanpro::ClientNames().empty());
}

// After a result of 2 the host finds the system's error of the port call that
// failed in errno (on success errno means nothing: -1, not looked at).
TEST_F(Lifecycle, ALineFailureLeavesTheSystemsErrorForTheHost) {
    InitParams params = MakeInit(peer.PortName(), 50);
    PortHandle held = 0;
    struct Case {
        const char* what;
        std::function<int32_t()> call;
        int32_t result;
        int error;
    };
    const Case cases[] = {
        {"no such device",
         [&] {
             InitParams missing = MakeInit("ttyNoSuch", 50);
             return Call(KOR_FUNC_INIT, &missing);
         },
         KOR_COMM_FAILURE, ENOENT},
        {"held by another user",
         [&] {
             CommOpen(peer.PortName().c_str(), 9600, 8, 0, 0, 8, &held);
             const int32_t result = Call(KOR_FUNC_INIT, &params, 8);
             CommClose(held);
             return result;
         },
         KOR_COMM_FAILURE, EBUSY},
        {"opens", [&] { return Call(KOR_FUNC_INIT, &params, 9); }, KOR_OK, -1},
        {"the line hangs up",
         [&] {
             peer.Vanish();
             return Call(KOR_FUNC_WARM_START);
         },
         KOR_COMM_FAILURE, EIO},
        {"a handle the driver did not open, closed after a log line",
         [&] {
             CommClose(context.PortHandle);
             context.PortHandle = 4242;
             return Call(KOR_FUNC_EXIT);
         },
         KOR_COMM_FAILURE, EBADF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        errno = 12345;
        EXPECT_EQ(c.call(), c.result);
        if (c.error >= 0) {
            EXPECT_EQ(errno, c.error);
        }
    }
    context.PortHandle = 0;
}

TEST(LifecycleBadInput, MissingRecordsGetTwo) {
    KorCall call{nullptr, KOR_FUNC_INIT, 1, 0, nullptr};
    for (const uint32_t function :
         {KOR_FUNC_INIT, KOR_FUNC_WARM_START, KOR_FUNC_EXIT, KOR_FUNC_CLOSE_PORT,
          KOR_FUNC_OPEN_PORT, KOR_FUNC_GET_INFO, KOR_FUNC_SET_PORT}) {
        call.FunctionNumber = function;
        EXPECT_EQ(KorMain(&call), KOR_COMM_FAILURE) << function;
    }
}

}  // namespace
