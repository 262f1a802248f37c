// The serial layer on the fake port: what a pseudo-terminal cannot show. The
// fields of the line state termios does not hold, the queue sizes, each platform
// call failing in turn, and the exact time a flush takes.
#include <gtest/gtest.h>
#include <zanpro/host.h>

#include <array>
#include <vector>

#include "fake_port/fake_port.h"
#include "serial/comm.h"
#include "serial/port.h"

namespace {

using namespace roderavo;
using fake_port::Call;

class CommFake : public ::testing::Test {
  protected:
    void SetUp() override { zanpro::ClearLog(); }
    void TearDown() override {
        if (handle != 0) CommClose(handle);
    }
    SerialResult Open(uint16_t controlFlags = kDefaultControlFlags) {
        return CommOpen(line.Name().c_str(), 19200, 7, kStopBitsTwo, kParityEven, controlFlags,
                        &handle);
    }
    fake_port::Line line{"ttyFake1"};
    PortHandle handle = 0;
};

TEST_F(CommFake, OpenSetsTheFixedConfigurationAndKeepsWhatItDoesNotSet) {
    // A device left in another program's configuration.
    PortHandle other = 0;
    ASSERT_TRUE(PortOpenExclusive(line.Name(), &other));
    PortLineState dirty = line.State();
    dirty.fParity = 0;
    dirty.fOutxCtsFlow = 1;
    dirty.fOutX = 1;
    dirty.fInX = 1;
    dirty.fErrorChar = 1;
    dirty.fNull = 1;
    dirty.fAbortOnError = 1;
    dirty.fTXContinueOnXoff = 0;
    dirty.XonLim = 100;
    dirty.XoffLim = 200;
    dirty.XonChar = 0x21;
    dirty.XoffChar = 0x23;
    dirty.ErrorChar = 0x3F;
    dirty.EofChar = 0x04;
    dirty.EvtChar = 0x0A;
    ASSERT_TRUE(PortSetState(other, dirty));
    ASSERT_TRUE(PortSetTimeouts(other, PortTimeouts{0, 7, 7, 7, 7}));
    ASSERT_TRUE(PortClose(other));

    ASSERT_EQ(Open(0x0303), SerialStatus::Ok);
    const PortLineState& s = line.State();
    EXPECT_EQ(s.BaudRate, 19200U);
    EXPECT_EQ(s.ByteSize, 7);
    EXPECT_EQ(s.Parity, kParityEven);
    EXPECT_EQ(s.StopBits, kStopBitsTwo);
    EXPECT_EQ(s.fDtrControl, kDtrControlEnable);
    EXPECT_EQ(s.fRtsControl, kRtsControlEnable);
    const std::array<uint8_t, 8> set = {s.fBinary, s.fParity,    s.fOutxCtsFlow, s.fOutX,
                                        s.fInX,    s.fErrorChar, s.fNull,        s.fAbortOnError};
    EXPECT_EQ(set, (std::array<uint8_t, 8>{1, 1, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(s.ErrorChar, 0xFC);
    // Kept as the device reported them.
    EXPECT_EQ(s.fTXContinueOnXoff, 0);
    EXPECT_EQ(s.XonLim, 100);
    EXPECT_EQ(s.XoffLim, 200);
    const std::array<uint8_t, 4> kept = {s.XonChar, s.XoffChar, s.EofChar, s.EvtChar};
    EXPECT_EQ(kept, (std::array<uint8_t, 4>{0x21, 0x23, 0x04, 0x0A}));

    const PortTimeouts& t = line.Timeouts();
    const std::array<uint32_t, 5> timeouts = {
        t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant,
        t.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutConstant};
    // Reads wait 1000 ms and twice the wire time of their bytes, writes their wire
    // time and 1000 ms: 11 bits a character at 19200 take 1 ms.
    EXPECT_EQ(timeouts, (std::array<uint32_t, 5>{0, 2, 1000, 1, 1000}));
    EXPECT_EQ(line.InputQueueSize(), 1200U);
    EXPECT_EQ(line.OutputQueueSize(), 1200U);
}

TEST_F(CommFake, EachFailingStepOfTheOpenHasItsCodeAndLeavesNothingOpen) {
    struct Case {
        Call call;
        SerialStatus result;
    };
    const Case cases[] = {
        {Call::Open, SerialStatus::OpenFailed},        {Call::GetState, SerialStatus::NoState},
        {Call::SetTimeouts, SerialStatus::OpenFailed}, {Call::SetState, SerialStatus::StateRefused},
        {Call::QueueSizes, SerialStatus::Ok},  // its result is not looked at
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.call));
        line.Fail(c.call);
        // A failure carries the system's error of the call that failed.
        const int32_t error = c.result == SerialStatus::Ok ? 0 : fake_port::SystemErrorOf(c.call);
        EXPECT_EQ(Open(), (SerialResult{c.result, error}));
        EXPECT_EQ(line.IsOpen(), c.result == SerialStatus::Ok);
        if (c.result == SerialStatus::Ok) {
            EXPECT_EQ(CommClose(handle), SerialStatus::Ok);
        }
        handle = 0;
    }
}

TEST_F(CommFake, SendFailures) {
    using Log = std::vector<zanpro::LogLine>;
    const Log flushFailed = {{32, "VERODI: Fail to flush comm port."}};
    struct Case {
        const char* what;
        std::vector<Call> failing;
        SerialResult result;
        Log log;
        std::size_t written;      // bytes that reached the device
        uint32_t shortWrite = 0;  // the device takes only this many bytes of the write
    };
    const std::vector<Case> cases = {
        // A failed status query still drains: its reads decide.
        {"status query", {Call::ClearErrors}, kSerialOk, {}, 3},
        {"status query and drain",
         {Call::ClearErrors, Call::Read},
         {SerialStatus::FlushFailed, fake_port::SystemErrorOf(Call::Read)},
         flushFailed,
         0},
        {"write",
         {Call::Write},
         {SerialStatus::CallFailed, fake_port::SystemErrorOf(Call::Write)},
         {},
         0},
        {"short write", {}, {SerialStatus::ShortWrite, 0}, {}, 2, 2},
    };
    ASSERT_EQ(Open(), SerialStatus::Ok);
    const std::array<uint8_t, 3> frame{0xFF, 0x06, 0x11};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::size_t before = line.Written().size();
        for (const Call call : c.failing) line.Fail(call);
        if (c.shortWrite != 0) line.ShortWrites(c.shortWrite);
        EXPECT_EQ(CommSend(handle, frame), c.result);
        EXPECT_EQ(zanpro::TakeLog(), c.log);
        EXPECT_EQ(line.Written().size() - before, c.written);
    }
}

// The read time-out is set in units of 10 ms; a value whose milliseconds pass the
// 32-bit range stays at its top instead of wrapping round to a short wait.
TEST_F(CommFake, ReadTimeoutInTensOfMillisecondsStopsAtTheTop) {
    struct Case {
        uint32_t value, milliseconds;
    };
    const Case cases[] = {
        {25, 250},
        {0, 0},
        {429496729, 4294967290U},
        {429496730, 0xFFFFFFFFU},
        {0xFFFFFFFFU, 0xFFFFFFFFU},
    };
    ASSERT_EQ(Open(), SerialStatus::Ok);
    uint32_t previous = line.Timeouts().ReadTotalTimeoutConstant;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(CommSetReadTimeout(handle, c.value), previous / 10);
        EXPECT_EQ(line.Timeouts().ReadTotalTimeoutConstant, c.milliseconds);
        EXPECT_EQ(line.Timeouts().WriteTotalTimeoutConstant, c.milliseconds);
        previous = c.milliseconds;
    }
}

TEST_F(CommFake, FlushDrainsIn512ByteReadsThenWaitsOutTheLastOne) {
    ASSERT_EQ(Open(), SerialStatus::Ok);
    EXPECT_EQ(CommSetReadTimeout(handle, 30), 100U);
    line.Send(std::vector<uint8_t>(1300, 0x55));
    const fake_port::Watch watch;
    EXPECT_EQ(CommFlush(handle), SerialStatus::Ok);
    EXPECT_EQ(line.Waiting(), 0U);
    EXPECT_EQ(watch.Elapsed(), 50U);  // 512 and 512 at once, 276 and the 50 ms time-out
    EXPECT_EQ(line.Timeouts().ReadTotalTimeoutConstant, 300U);  // restored

    const fake_port::Watch again;
    EXPECT_EQ(CommFlush(handle), SerialStatus::Ok);
    EXPECT_EQ(again.Elapsed(), 0U);  // nothing waiting: no read
}

}  // namespace
