// The serial layer on real pseudo-terminals: the test plays the device on the
// master side.
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <zanpro/host.h>

#include <array>
#include <chrono>
#include <csignal>
#include <thread>
#include <tuple>

#include "serial/comm.h"
#include "serial/line_speed.h"
#include "serial/port.h"
#include "support/pty_peer.h"

namespace {

using namespace roderavo;
using Clock = std::chrono::steady_clock;
using roderavo_test::MsSince;
using roderavo_test::PtyPeer;

// Runs body in a child process and returns its exit code, or -1 when it did not
// end within a few seconds (it is then killed).
int InChild(int (*body)(const char*), const char* arg) {
    const pid_t child = fork();
    if (child == 0) _exit(body(arg));
    const auto start = Clock::now();
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (MsSince(start) > 5000) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class CommPty : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(peer.Ok());
        zanpro::ClearLog();
    }
    void TearDown() override {
        if (handle != 0) CommClose(handle);
    }
    SerialResult Open(uint16_t baud = 9600, uint16_t dataBits = 8, uint16_t stopBits = 0,
                      uint16_t parity = 0, uint16_t controlFlags = kDefaultControlFlags) {
        return CommOpen(peer.PortName().c_str(), baud, dataBits, stopBits, parity, controlFlags,
                        &handle);
    }
    termios LineSeenByPeer() {
        termios line{};
        tcgetattr(peer.MasterFd(), &line);
        return line;
    }
    PtyPeer peer;
    PortHandle handle = 0;
};

TEST_F(CommPty, LineSettingsAreVisibleOnTheOtherSide) {
    struct Case {
        uint16_t baud, dataBits, stopBits, parity, controlFlags;
        speed_t speedCode;
        bool twoStopBits, rtsHandshake, parityCheck;
    };
    const Case cases[] = {
        {9600, 8, 0, 0, 8, B9600, false, false, false},
        {19200, 8, 2, 2, 8, B19200, true, false, true},
        {1200, 7, 0, 1, 0x1000, B1200, false, true, true},
        {57600, 8, 2, 3, 0x0303, B57600, true, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.baud);
        ASSERT_EQ(Open(c.baud, c.dataBits, c.stopBits, c.parity, c.controlFlags), SerialStatus::Ok);
        const termios line = LineSeenByPeer();
        EXPECT_EQ(cfgetospeed(&line), c.speedCode);
        EXPECT_EQ((line.c_cflag & CSTOPB) != 0, c.twoStopBits);
        EXPECT_EQ((line.c_cflag & CRTSCTS) != 0, c.rtsHandshake);
        EXPECT_EQ((line.c_iflag & INPCK) != 0, c.parityCheck);
        EXPECT_NE(line.c_cflag & CLOCAL, 0U);
        EXPECT_NE(line.c_cflag & CREAD, 0U);
        EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0U);
        EXPECT_EQ(line.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP | IGNPAR | PARMRK), 0U);
        EXPECT_EQ(line.c_oflag & OPOST, 0U);
        ASSERT_EQ(CommClose(handle), SerialStatus::Ok);
        handle = 0;
    }
}

TEST_F(CommPty, SpeedsOutsideTheFixedRatesAreSetByNumber) {
    ASSERT_EQ(Open(14400), SerialStatus::Ok);
    EXPECT_EQ(roderavo_test::LineSpeed(peer.MasterFd()), 14400U);
}

// ControlFlags pick each line's control by the first bit that matches: on before
// handshake, handshake before toggle. A pseudo-terminal has no control lines, so
// the port reports the controls it applied; a handshake shows as CRTSCTS.
TEST_F(CommPty, ControlFlagsSelectTheLinesFirstMatchWins) {
    struct Case {
        uint16_t controlFlags;
        SerialStatus result;
        uint8_t dtr, rts;
    };
    const Case cases[] = {
        {8, SerialStatus::Ok, kDtrControlDisable, kRtsControlDisable},
        {0x0001, SerialStatus::Ok, kDtrControlEnable, kRtsControlDisable},
        {0x0100, SerialStatus::Ok, kDtrControlEnable, kRtsControlDisable},
        {0x8001, SerialStatus::Ok, kDtrControlEnable, kRtsControlDisable},
        {0x8100, SerialStatus::Ok, kDtrControlEnable, kRtsControlDisable},
        {0x0002, SerialStatus::Ok, kDtrControlDisable, kRtsControlEnable},
        {0x0200, SerialStatus::Ok, kDtrControlDisable, kRtsControlEnable},
        {0x1002, SerialStatus::Ok, kDtrControlDisable, kRtsControlEnable},
        {0x3200, SerialStatus::Ok, kDtrControlDisable, kRtsControlEnable},
        {0x1000, SerialStatus::Ok, kDtrControlDisable, kRtsControlHandshake},
        {0x3000, SerialStatus::Ok, kDtrControlDisable, kRtsControlHandshake},
        {0x0303, SerialStatus::Ok, kDtrControlEnable, kRtsControlEnable},
        {0x4CFC, SerialStatus::Ok, kDtrControlDisable,
         kRtsControlDisable},                        // no line bit among these
        {0x8000, SerialStatus::StateRefused, 0, 0},  // DTR handshake
        {0x2000, SerialStatus::StateRefused, 0, 0},  // RTS toggle
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.controlFlags);
        ASSERT_EQ(Open(9600, 8, 0, 0, c.controlFlags), c.result);
        if (c.result != SerialStatus::Ok) {
            handle = 0;
            continue;
        }
        PortLineState state{};
        ASSERT_TRUE(PortGetState(handle, &state));
        EXPECT_EQ(state.fDtrControl, c.dtr);
        EXPECT_EQ(state.fRtsControl, c.rts);
        EXPECT_EQ((LineSeenByPeer().c_cflag & CRTSCTS) != 0, c.rts == kRtsControlHandshake);
        ASSERT_EQ(CommClose(handle), SerialStatus::Ok);
        handle = 0;
    }
}

TEST_F(CommPty, SettingsThePlatformCannotApplyFailWithFiveAndLeaveNothingOpen) {
    struct Case {
        const char* what;
        uint16_t baud, dataBits, stopBits, parity, controlFlags;
    };
    const Case cases[] = {
        {"one and a half stop bits", 9600, 8, 1, 0, 8},
        {"4 data bits", 9600, 4, 0, 0, 8},
        {"9 data bits", 9600, 9, 0, 0, 8},
        {"parity code 7", 9600, 8, 0, 7, 8},
        {"DTR handshake", 9600, 8, 0, 0, 0x8000},
        {"speed 0", 0, 8, 0, 0, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Open(c.baud, c.dataBits, c.stopBits, c.parity, c.controlFlags),
                  SerialStatus::StateRefused);
        handle = 0;
    }
    EXPECT_EQ(Open(), SerialStatus::Ok);  // nothing stayed open
}

TEST_F(CommPty, PortNamesAndMissingDevices) {
    PortHandle other = 5;
    EXPECT_EQ(CommOpen("ttyNoSuch", 9600, 8, 0, 0, 8, &other),
              (SerialResult{SerialStatus::OpenFailed, ENOENT}));
    EXPECT_EQ(other, 0U);
    const char unterminated[12] = {'p', 't', 's', '/', '1', '1', '1', '1', '1', '1', '1', '1'};
    EXPECT_EQ(CommOpen(unterminated, 9600, 8, 0, 0, 8, &other), SerialStatus::OpenFailed);
    EXPECT_EQ(CommOpen("", 9600, 8, 0, 0, 8, &other), SerialStatus::OpenFailed);
    if (peer.Path().size() <= 11) {  // a path is used as it stands
        EXPECT_EQ(CommOpen(peer.Path().c_str(), 9600, 8, 0, 0, 8, &other), SerialStatus::Ok);
        EXPECT_EQ(CommClose(other), SerialStatus::Ok);
    }
}

// A pseudo-terminal holds neither data bits nor parity: asked for 7E1 or 8O2, it
// opens, and reopens a thousand times, since what it can hold is as asked.
TEST_F(CommPty, ReopensWithSettingsTheDeviceCannotHold) {
    for (const auto& [dataBits, parity, stopBits] :
         {std::tuple{7, 2, 0}, std::tuple{8, 1, 2}, std::tuple{7, 3, 0}}) {
        for (int round = 0; round < 1000; ++round) {
            ASSERT_EQ(Open(9600, static_cast<uint16_t>(dataBits), static_cast<uint16_t>(stopBits),
                           static_cast<uint16_t>(parity)),
                      SerialStatus::Ok)
                << dataBits << "/" << parity << " round " << round;
            ASSERT_EQ(CommClose(handle), SerialStatus::Ok);
            handle = 0;
        }
    }
}

TEST_F(CommPty, ExclusiveWithinTheProcessAndAgainstOthers) {
    ASSERT_EQ(Open(), SerialStatus::Ok);
    PortHandle second = 5;
    EXPECT_EQ(CommOpen(peer.PortName().c_str(), 9600, 8, 0, 0, 8, &second),
              (SerialResult{SerialStatus::OpenFailed, EBUSY}));
    EXPECT_EQ(second, 0U);
    const int child = InChild(
        [](const char* name) {
            PortHandle h = 0;
            return static_cast<int>(CommOpen(name, 9600, 8, 0, 0, 8, &h).status);
        },
        peer.PortName().c_str());
    EXPECT_EQ(child, static_cast<int>(SerialStatus::OpenFailed));
    // The first port is still in use.
    ASSERT_TRUE(peer.Send({1, 2}));
    std::array<uint8_t, 2> reply{};
    EXPECT_TRUE(CommReceive(handle, reply, 2));
}

TEST_F(CommPty, TheHandleIsNeverZero) {
    const int child = InChild(
        [](const char* name) {
            close(0);  // the next descriptor would be 0
            PortHandle h = 0;
            if (CommOpen(name, 9600, 8, 0, 0, 8, &h) != SerialStatus::Ok) return 2;
            return h != 0 ? 0 : 1;
        },
        peer.PortName().c_str());
    EXPECT_EQ(child, 0);
}

TEST_F(CommPty, ReplyInTwoPieces) {
    ASSERT_EQ(Open(), SerialStatus::Ok);
    std::thread device([this] {
        peer.Send({1, 2, 3});
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        peer.Send({4, 5, 6, 7});
    });
    std::array<uint8_t, 16> buffer{};
    uint16_t count = 0;
    EXPECT_EQ(CommRead(handle, buffer, 7, &count), SerialStatus::Ok);
    device.join();
    EXPECT_EQ(count, 7);
    EXPECT_EQ(buffer[6], 7);
    EXPECT_EQ(buffer[7], 0);  // nothing past the length
}

TEST_F(CommPty, ReplyThatStopsShort) {
    ASSERT_EQ(Open(), SerialStatus::Ok);
    EXPECT_EQ(CommSetReadTimeout(handle, 10), 100U);
    ASSERT_TRUE(peer.Send({1, 2, 3, 4}));
    std::array<uint8_t, 7> buffer{};
    uint16_t count = 0;
    EXPECT_EQ(CommRead(handle, buffer, 7, &count), SerialStatus::CallFailed);
    EXPECT_EQ(count, 4);
    ASSERT_TRUE(peer.Send({1, 2, 3}));
    EXPECT_FALSE(CommReceive(handle, buffer, 7));
}

TEST_F(CommPty, ReadTimeoutBounds) {
    ASSERT_EQ(Open(), SerialStatus::Ok);
    EXPECT_EQ(CommSetReadTimeout(handle, 25), 100U);  // 1000 ms after the open
    EXPECT_EQ(CommSetReadTimeout(handle, 25), 25U);
    std::array<uint8_t, 4> buffer{};
    const auto start = Clock::now();
    EXPECT_FALSE(CommReceive(handle, buffer, 4));
    EXPECT_GE(MsSince(start), 240);
    EXPECT_LT(MsSince(start), 3000);
}

TEST_F(CommPty, ReadTimeoutZeroWaitsUntilTheBytesArrive) {
    ASSERT_EQ(Open(), SerialStatus::Ok);
    EXPECT_EQ(CommSetReadTimeout(handle, 0), 100U);
    std::thread device([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));
        peer.Send({1, 2});
    });
    std::array<uint8_t, 2> buffer{};
    const auto start = Clock::now();
    EXPECT_TRUE(CommReceive(handle, buffer, 2));
    device.join();
    EXPECT_GE(MsSince(start), 1100);  // longer than any time-out in force before
}

TEST_F(CommPty, FlushDrainsWaitingInputAndRestoresTheTimeout) {
    ASSERT_EQ(Open(), SerialStatus::Ok);
    CommSetReadTimeout(handle, 30);
    ASSERT_TRUE(peer.Send(std::vector<uint8_t>(1300, 0x55)));
    ASSERT_TRUE(peer.WaitQueued(static_cast<int>(handle), 1300));
    const auto start = Clock::now();
    EXPECT_EQ(CommFlush(handle), SerialStatus::Ok);
    // 512 + 512 bytes at once, then 276 and a wait of 50 ms for the rest.
    EXPECT_GE(MsSince(start), 45);
    EXPECT_LT(MsSince(start), 2000);
    int queued = -1;
    ASSERT_EQ(ioctl(static_cast<int>(handle), FIONREAD, &queued), 0);
    EXPECT_EQ(queued, 0);
    EXPECT_EQ(CommSetReadTimeout(handle, 30), 30U);  // restored

    // Nothing waiting: no read, no time-out change, no wait.
    const auto again = Clock::now();
    EXPECT_EQ(CommFlush(handle), SerialStatus::Ok);
    EXPECT_LT(MsSince(again), 45);
}

TEST_F(CommPty, SendDiscardsStaleInputThenWrites) {
    ASSERT_EQ(Open(), SerialStatus::Ok);
    ASSERT_TRUE(peer.Send({0xEE, 0xEE, 0xEE}));
    ASSERT_TRUE(peer.WaitQueued(static_cast<int>(handle), 3));
    const std::array<uint8_t, 7> frame{0xFF, 0x06, 0x11, 0x50, 0x3C, 0x10, 0x4D};
    EXPECT_TRUE(CommSend(handle, frame));
    EXPECT_EQ(peer.Receive(7), std::vector<uint8_t>(frame.begin(), frame.end()));
    ASSERT_TRUE(peer.Send({0xF0, 0x01}));
    std::array<uint8_t, 2> reply{};
    EXPECT_TRUE(CommReceive(handle, reply, 2));
    EXPECT_EQ(reply[0], 0xF0);  // the stale bytes are gone
    EXPECT_TRUE(zanpro::Log().empty());
}

TEST_F(CommPty, TheNullDevice) {
    ASSERT_EQ(CommOpen("NUL", 0, 0, 1, 9, 0x8000, &handle), SerialStatus::Ok);  // no configuration
    EXPECT_NE(handle, 0U);
    EXPECT_EQ(CommSetReadTimeout(handle, 25), 0U);
    EXPECT_EQ(CommFlush(handle), SerialStatus::Ok);
    const std::array<uint8_t, 3> bytes{1, 2, 3};
    uint32_t written = 0;
    EXPECT_EQ(CommWrite(handle, bytes, &written), SerialStatus::Ok);
    EXPECT_EQ(written, 3U);
    EXPECT_TRUE(CommSend(handle, bytes));
    std::array<uint8_t, 3> buffer{};
    EXPECT_FALSE(CommReceive(handle, buffer, 3));
}

TEST_F(CommPty, ADeviceThatVanishes) {
    ASSERT_EQ(Open(), SerialStatus::Ok);
    peer.Vanish();
    const auto start = Clock::now();
    // The line hung up: every failure carries the system's EIO.
    EXPECT_EQ(CommFlush(handle), (SerialResult{SerialStatus::FlushFailed, EIO}));
    EXPECT_EQ(CommSend(handle, std::array<uint8_t, 2>{1, 2}),
              (SerialResult{SerialStatus::FlushFailed, EIO}));
    EXPECT_EQ(zanpro::TakeLog(),
              (std::vector<zanpro::LogLine>{{32, "VERODI: Fail to flush comm port."}}));
    uint32_t written = 99;
    EXPECT_EQ(CommWrite(handle, std::array<uint8_t, 2>{1, 2}, &written),
              (SerialResult{SerialStatus::CallFailed, EIO}));
    EXPECT_EQ(written, 99U);  // not stored on failure
    std::array<uint8_t, 4> buffer{};
    uint16_t count = 9;
    EXPECT_EQ(CommRead(handle, buffer, 4, &count), SerialStatus::CallFailed);
    EXPECT_EQ(count, 0);
    EXPECT_LT(MsSince(start), 3000);
    EXPECT_EQ(CommClose(handle), SerialStatus::Ok);
    handle = 0;
}

TEST(CommBadInput, DefinedAnswers) {
    zanpro::ClearLog();
    std::array<uint8_t, 4> buffer{};
    uint16_t count = 9;
    EXPECT_EQ(CommRead(0, buffer, 4, &count), SerialStatus::CallFailed);
    EXPECT_EQ(CommRead(0, buffer, 5, &count), SerialStatus::CallFailed);  // longer than the buffer
    EXPECT_EQ(count, 0);
    EXPECT_FALSE(CommReceive(0, buffer, 4));
    EXPECT_FALSE(CommSend(0, buffer));
    EXPECT_EQ(zanpro::TakeLog(),
              (std::vector<zanpro::LogLine>{{32, "VERODI: Fail to flush comm port."}}));
    EXPECT_EQ(CommClose(0), SerialStatus::CallFailed);
    EXPECT_EQ(CommClose(4242), (SerialResult{SerialStatus::CallFailed, EBADF}));
    EXPECT_EQ(CommSetReadTimeout(0, 5), 0U);
    PortHandle none = 0;
    EXPECT_EQ(CommOpen("", 9600, 8, 0, 0, 8, &none), SerialStatus::OpenFailed);
}

}  // namespace
