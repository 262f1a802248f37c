// The contract of the platform seam under the serial layer, written against
// port.h alone so that every backend runs the same cases against a device pair:
// built once with the POSIX backend on a pseudo-terminal and once with the fake
// backend on virtual time (the peer tells which line fields its device keeps and
// whether its clock is exact).
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "serial/contract_peer.h"
#include "serial/port.h"

namespace {

using namespace roderavo;
using contract_test::ContractPeer;

const ContractPeer::Differences& kDiffers = ContractPeer::kDifferences;

class PortContract : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(peer.Ok());
        ASSERT_TRUE(PortOpenExclusive(peer.PortName(), &handle));
        ASSERT_NE(handle, 0U);
    }
    void TearDown() override {
        if (handle != 0) PortClose(handle);
    }
    // Milliseconds since start on the port's clock.
    int64_t Since(int64_t start) const { return peer.NowMs() - start; }
    // A read waited about `expected` ms: exactly on a virtual clock; on a real
    // one not less (allowing for the clock's grain) and not absurdly more.
    static void ExpectWaited(int64_t elapsed, int64_t expected) {
        if (ContractPeer::kExactTime) {
            EXPECT_EQ(elapsed, expected);
        } else {
            EXPECT_GE(elapsed, expected - 10);
            EXPECT_LT(elapsed, expected + 3000);
        }
    }
    // Waits until the port's input queue holds count bytes.
    bool WaitQueued(uint32_t count) {
        const int64_t start = peer.NowMs();
        uint32_t queued = 0;
        while (PortClearErrors(handle, &queued) && queued < count && Since(start) < 2000)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return queued == count;
    }
    ContractPeer peer;
    PortHandle handle = 0;
};

TEST_F(PortContract, OpenIsExclusiveAndCloseReleasesTheDevice) {
    PortHandle second = 77;
    if (!kDiffers.takesASecondOpen) {
        EXPECT_FALSE(PortOpenExclusive(peer.PortName(), &second));
        EXPECT_EQ(second, 0U);
    }
    EXPECT_TRUE(PortClose(handle));
    EXPECT_FALSE(PortClose(handle));  // no longer open
    handle = 0;
    EXPECT_TRUE(PortOpenExclusive(peer.PortName(), &handle));
}

TEST_F(PortContract, UnknownHandlesAndMissingDevicesFail) {
    PortHandle none = 0;
    EXPECT_FALSE(PortOpenExclusive("ttyNoSuchDevice", &none));
    EXPECT_FALSE(PortOpenExclusive("", &none));
    PortLineState state{};
    PortTimeouts timeouts{};
    uint32_t count = 0;
    uint8_t byte = 0;
    for (const PortHandle bad : {PortHandle{0}, PortHandle{65000}}) {
        EXPECT_FALSE(PortGetState(bad, &state));
        EXPECT_FALSE(PortSetTimeouts(bad, timeouts));
        EXPECT_FALSE(PortClearErrors(bad, &count));
        EXPECT_FALSE(PortRead(bad, &byte, 1, &count));
        EXPECT_FALSE(PortWrite(bad, &byte, 1, &count));
        EXPECT_FALSE(PortClose(bad));
    }
}

TEST_F(PortContract, LineStateRoundTrip) {
    struct Case {
        uint32_t baud;
        uint8_t byteSize, parity, stopBits, dtr, rts;
    };
    const Case cases[] = {
        {9600, 8, kParityNone, kStopBitsOne, kDtrControlDisable, kRtsControlDisable},
        {19200, 7, kParityEven, kStopBitsTwo, kDtrControlEnable, kRtsControlEnable},
        {57600, 8, kParityOdd, kStopBitsOne, kDtrControlDisable, kRtsControlHandshake},
        {1200, 5, kParityMark, kStopBitsTwo, kDtrControlEnable, kRtsControlDisable},
        {14400, 6, kParitySpace, kStopBitsOne, kDtrControlDisable, kRtsControlEnable},
        {4800, 8, kParityNone, kStopBitsOne, kDtrControlDisable, kRtsControlDisable},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.baud);
        PortLineState state{};
        ASSERT_TRUE(PortGetState(handle, &state));
        state.BaudRate = c.baud;
        state.ByteSize = c.byteSize;
        state.Parity = c.parity;
        state.StopBits = c.stopBits;
        state.fDtrControl = c.dtr;
        state.fRtsControl = c.rts;
        state.fParity = 1;
        state.fOutX = 0;
        state.fInX = 0;
        ASSERT_TRUE(PortSetState(handle, state));
        PortLineState back{};
        ASSERT_TRUE(PortGetState(handle, &back));
        if (!kDiffers.readsSomeSpeedsAs38400) {
            EXPECT_EQ(back.BaudRate, c.baud);
        }
        EXPECT_EQ(back.StopBits, c.stopBits);
        if (!kDiffers.readsControlLinesOn) {
            EXPECT_EQ(back.fDtrControl, c.dtr);
            EXPECT_EQ(back.fRtsControl, c.rts);
        }
        EXPECT_EQ(back.fOutX, 0);
        EXPECT_EQ(back.fInX, 0);
        EXPECT_EQ(back.fBinary, 1);
        if (ContractPeer::kKeepsCharacterFormat) {
            EXPECT_EQ(back.ByteSize, c.byteSize);
            EXPECT_EQ(back.Parity, c.parity);
        }
    }
}

TEST_F(PortContract, StatesTheDeviceCannotTakeFailAndChangeNothing) {
    PortLineState good{};
    ASSERT_TRUE(PortGetState(handle, &good));
    good.BaudRate = 4800;
    good.ByteSize = 8;
    good.Parity = kParityNone;
    good.StopBits = kStopBitsTwo;
    ASSERT_TRUE(PortSetState(handle, good));

    struct Case {
        const char* what;
        bool taken;  // by this backend's device after all
        void (*spoil)(PortLineState&);
    };
    const Case cases[] = {
        {"one and a half stop bits", kDiffers.takesOneAndAHalfStopBits,
         [](PortLineState& s) { s.StopBits = kStopBitsOneAndHalf; }},
        {"4 data bits", false, [](PortLineState& s) { s.ByteSize = 4; }},
        {"9 data bits", false, [](PortLineState& s) { s.ByteSize = 9; }},
        {"parity code 5", false, [](PortLineState& s) { s.Parity = 5; }},
        {"DTR handshake", kDiffers.takesDtrHandshake,
         [](PortLineState& s) { s.fDtrControl = kDtrControlHandshake; }},
        {"speed 0", kDiffers.takesSpeedZero, [](PortLineState& s) { s.BaudRate = 0; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.taken) continue;
        PortLineState bad = good;
        bad.BaudRate = 2400;
        c.spoil(bad);
        EXPECT_FALSE(PortSetState(handle, bad));
        PortLineState now{};
        ASSERT_TRUE(PortGetState(handle, &now));
        EXPECT_EQ(now.BaudRate, 4800U);
        EXPECT_EQ(now.StopBits, kStopBitsTwo);
    }
}

TEST_F(PortContract, TimeoutsRoundTrip) {
    const PortTimeouts set{0, 0, 1234, 0, 0};
    ASSERT_TRUE(PortSetTimeouts(handle, set));
    PortTimeouts got{};
    ASSERT_TRUE(PortGetTimeouts(handle, &got));
    EXPECT_EQ(got.ReadTotalTimeoutConstant, 1234U);
    EXPECT_EQ(got.ReadIntervalTimeout, 0U);
    EXPECT_EQ(got.WriteTotalTimeoutConstant, 0U);
}

TEST_F(PortContract, ShortReadAfterTheTotalTimeoutIsNoFailure) {
    ASSERT_TRUE(PortSetTimeouts(handle, PortTimeouts{0, 0, 150, 0, 0}));
    ASSERT_TRUE(peer.Send({1, 2, 3}));
    uint8_t buffer[10] = {};
    uint32_t received = 99;
    const int64_t start = peer.NowMs();
    EXPECT_TRUE(PortRead(handle, buffer, sizeof buffer, &received));
    EXPECT_EQ(received, 3U);
    ExpectWaited(Since(start), 150);
    EXPECT_EQ(buffer[2], 3);

    EXPECT_TRUE(PortRead(handle, buffer, sizeof buffer, &received));  // nothing at all
    EXPECT_EQ(received, 0U);
}

TEST_F(PortContract, ReadReturnsAsSoonAsAllBytesAreThere) {
    ASSERT_TRUE(PortSetTimeouts(handle, PortTimeouts{0, 0, 20000, 0, 0}));
    ASSERT_TRUE(peer.Send({1, 2, 3, 4}));
    uint8_t buffer[4] = {};
    uint32_t received = 0;
    const int64_t start = peer.NowMs();
    EXPECT_TRUE(PortRead(handle, buffer, sizeof buffer, &received));
    EXPECT_EQ(received, 4U);
    ExpectWaited(Since(start), 0);
}

TEST_F(PortContract, AllReadTimeoutsZeroWaitUntilTheBytesArrive) {
    ASSERT_TRUE(PortSetTimeouts(handle, PortTimeouts{0, 0, 0, 0, 0}));
    const int64_t start = peer.NowMs();
    peer.SendAfter(200, {9, 8});
    uint8_t buffer[2] = {};
    uint32_t received = 0;
    EXPECT_TRUE(PortRead(handle, buffer, sizeof buffer, &received));
    EXPECT_EQ(received, 2U);
    ExpectWaited(Since(start), 200);
}

TEST_F(PortContract, TotalTimeoutGrowsWithTheLengthAsked) {
    ASSERT_TRUE(PortSetTimeouts(handle, PortTimeouts{0, 20, 50, 0, 0}));
    uint8_t buffer[5] = {};
    uint32_t received = 99;
    const int64_t start = peer.NowMs();
    EXPECT_TRUE(PortRead(handle, buffer, sizeof buffer, &received));
    EXPECT_EQ(received, 0U);
    ExpectWaited(Since(start), 5 * 20 + 50);
}

// Reads are bounded by their total time-outs only: an interval time-out, or the
// interval that asks a read to return at once, is refused and changes nothing.
TEST_F(PortContract, AReadIntervalIsRefusedAndChangesNothing) {
    const PortTimeouts before{0, 3, 150, 1, 150};
    ASSERT_TRUE(PortSetTimeouts(handle, before));
    for (const uint32_t interval : {50U, 0xFFFFFFFFU}) {
        SCOPED_TRACE(interval);
        EXPECT_FALSE(PortSetTimeouts(handle, PortTimeouts{interval, 0, 0, 0, 0}));
        PortTimeouts now{};
        ASSERT_TRUE(PortGetTimeouts(handle, &now));
        EXPECT_EQ(now.ReadIntervalTimeout, 0U);
        EXPECT_EQ(now.ReadTotalTimeoutConstant, 150U);
    }
}

TEST_F(PortContract, InputQueueCountAndWrite) {
    uint32_t queued = 99;
    ASSERT_TRUE(PortClearErrors(handle, &queued));
    EXPECT_EQ(queued, 0U);
    ASSERT_TRUE(peer.Send({1, 2, 3, 4, 5}));
    EXPECT_TRUE(WaitQueued(5));

    const uint8_t out[] = {0xFF, 0x06, 0x11};
    uint32_t written = 0;
    EXPECT_TRUE(PortWrite(handle, out, sizeof out, &written));
    EXPECT_EQ(written, 3U);
    EXPECT_EQ(peer.Receive(3), (std::vector<uint8_t>{0xFF, 0x06, 0x11}));
}

TEST_F(PortContract, ALineThatHasGoneFailsEveryTransferButTheClose) {
    if (kDiffers.cannotVanish) GTEST_SKIP() << "this device cannot go away from inside the test";
    peer.Vanish();
    uint32_t count = 99;
    uint8_t buffer[2] = {1, 2};
    EXPECT_FALSE(PortClearErrors(handle, &count));
    EXPECT_FALSE(PortRead(handle, buffer, sizeof buffer, &count));
    EXPECT_FALSE(PortWrite(handle, buffer, sizeof buffer, &count));
    EXPECT_TRUE(PortClose(handle));
    handle = 0;
}

TEST(PortContractNull, TheNullDeviceOpensWithoutLineStateOrTimeouts) {
    PortHandle handle = 0;
    ASSERT_TRUE(PortOpenExclusive("NUL", &handle));
    PortHandle again = 0;
    ASSERT_TRUE(PortOpenExclusive("NUL", &again));  // shared by everyone
    PortLineState state{};
    PortTimeouts timeouts{};
    EXPECT_FALSE(PortGetState(handle, &state));
    EXPECT_FALSE(PortGetTimeouts(handle, &timeouts));
    uint8_t buffer[4] = {1, 2, 3, 4};
    uint32_t count = 9;
    EXPECT_TRUE(PortRead(handle, buffer, sizeof buffer, &count));
    EXPECT_EQ(count, 0U);
    EXPECT_TRUE(PortWrite(handle, buffer, sizeof buffer, &count));
    EXPECT_EQ(count, 4U);
    EXPECT_TRUE(PortClose(handle));
    EXPECT_TRUE(PortClose(again));
}

}  // namespace
