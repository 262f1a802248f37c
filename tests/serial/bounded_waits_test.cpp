// Lines that would hold a read forever: a far side that stops reading, a line that
// babbles, a reply that trickles in. Each read through KorMain now ends within
// its bound, and the next good exchange succeeds at once.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <zanpro/host.h>

#include <atomic>
#include <functional>
#include <thread>

#include "support/frame_bytes.h"
#include "support/host_records.h"
#include "support/pty_peer.h"

namespace {

using roderavo_test::Bytes;
using roderavo_test::MsSince;
using roderavo_test::PtyPeer;
using Clock = std::chrono::steady_clock;

const Bytes kVersionRequest = {0xFF, 0x06, 0x11, 0x48, 0x3C, 0x10, 0x55};

// The driver on a pseudo-terminal, reading VER1.
class BoundedWaits : public ::testing::Test {
  protected:
    void SetUp() override {
        zanpro::Reset();
        zanpro::SetLogSink([](int32_t, std::string_view) {});
        ASSERT_TRUE(peer.Ok());
    }
    void TearDown() override {
        stop = true;
        if (device.joinable()) device.join();
        Call(KOR_FUNC_EXIT, nullptr);
        zanpro::Reset();
        zanpro::SetLogSink({});
    }

    int32_t Init(uint16_t baud, int32_t pollInterval) {
        InitParams params = roderavo_test::MakeInitParams(peer.PortName(), pollInterval);
        params.BaudRate = baud;
        return Call(KOR_FUNC_INIT, &params);
    }
    int32_t Call(uint32_t function, void* params) {
        return roderavo_test::CallDriver(context, function, 3, params);
    }
    int32_t ReadVersion() {
        text.fill('\0');
        GateParams gate = roderavo_test::MakeGateParams("VER1", 1, KOR_ACCESS_READ_ONLY,
                                                        KOR_VALUE_TEXT, text.data());
        return Call(KOR_FUNC_SINGLE_READ, &gate);
    }
    // After the fault: the line is quiet and the multiplexer answers every request
    // again; the next read succeeds within its attempts (noise the drain left in the
    // port's queue is turned away by the reply checks).
    void NextReadSucceeds() {
        stop = true;
        if (device.joinable()) device.join();
        while (!peer.Receive(1 << 16, 100).empty()) {  // whatever the port wrote meanwhile
        }
        std::atomic<bool> done{false};
        std::thread answer([&] {
            while (!done) {
                if (peer.Receive(kVersionRequest.size(), 100) == kVersionRequest)
                    peer.Send(roderavo_test::StatusReply(0x48, 0x11, {'V', '2'}));
            }
        });
        const auto start = Clock::now();
        EXPECT_EQ(ReadVersion(), KOR_OK);
        EXPECT_LT(MsSince(start), 2000);
        done = true;
        answer.join();
        EXPECT_STREQ(text.data(), "V2");
    }

    PtyPeer peer;
    DriverContext context{};
    std::array<char, 64> text{};
    std::atomic<bool> stop{false};
    std::thread device;
};

// The far side stops reading: the port's output fills, and every write of a
// request ends after its wire time plus the read time-out, as a failed send.
TEST_F(BoundedWaits, AFarSideThatStopsReading) {
    ASSERT_EQ(Init(57600, 10), KOR_OK);  // 100 ms read time-out
    const int fd = static_cast<int>(context.PortHandle);
    const Bytes block(4096, 0x55);
    while (write(fd, block.data(), block.size()) > 0) {
    }
    const auto start = Clock::now();
    EXPECT_EQ(ReadVersion(), KOR_COMM_FAILURE);
    // Five sends of 7 bytes, each at most 7 x 1 ms + 100 ms.
    EXPECT_LT(MsSince(start), 3000);
    EXPECT_GE(MsSince(start), 400);
    NextReadSucceeds();
}

// A line that babbles as fast as the port reads: the drain stops after the two
// queues' worth or one read time-out, and the noise is turned away as a reply.
TEST_F(BoundedWaits, ABabblingLine) {
    ASSERT_EQ(Init(57600, 100), KOR_OK);  // 1000 ms read time-out
    ASSERT_EQ(fcntl(peer.MasterFd(), F_SETFL, fcntl(peer.MasterFd(), F_GETFL) | O_NONBLOCK), 0);
    const int fd = static_cast<int>(context.PortHandle);
    device = std::thread([this, fd] {
        const Bytes noise(256, 0x00);
        const auto start = Clock::now();
        while (!stop && MsSince(start) < 8000) {
            int unread = 0;  // keep up to two kilobytes waiting at the port
            if (ioctl(fd, FIONREAD, &unread) == 0 && unread < 2048)
                roderavo_test::WriteAll(peer.MasterFd(), noise, 50);
            peer.Receive(1 << 16, 1);  // the port's requests
        }
    });
    const auto start = Clock::now();
    EXPECT_NE(ReadVersion(), KOR_OK);
    EXPECT_LT(MsSince(start), 3000);  // the noise would go on for 8 s
    // The flood ends. A pseudo-terminal still holds tens of kilobytes of it where a
    // serial port's queue holds 4; they go, as they would from a real line.
    stop = true;
    device.join();
    ASSERT_EQ(tcflush(fd, TCIFLUSH), 0);
    NextReadSucceeds();
}

// A reply that trickles in, one byte every 0.75 read time-outs: each piece of the
// reply has one deadline, the re-reads of its rest do not get fresh ones.
TEST_F(BoundedWaits, AReplyThatTricklesIn) {
    ASSERT_EQ(Init(9600, 20), KOR_OK);  // 200 ms read time-out
    device = std::thread([this] {
        Bytes reply = roderavo_test::StatusReply(0x48, 0x11, Bytes(43, 'v'));
        reply.back() ^= 0x01;  // and a bad checksum at the end
        for (std::size_t i = 0; !stop && i < 4 * reply.size(); ++i) {
            peer.Send({reply[i % reply.size()]});
            const auto paused = Clock::now();
            while (!stop && MsSince(paused) < 150)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    const auto start = Clock::now();
    EXPECT_NE(ReadVersion(), KOR_OK);
    // Five attempts of at most 200 + 2 x 2 x 2 ms and 200 + 2 x 2 x 49 ms, and four pauses.
    EXPECT_LT(MsSince(start), 5000);
    NextReadSucceeds();
}

}  // namespace
