// The simulator on a pty, driven from the driver's end of the line with raw reads and
// writes: every status and control command, what the multiplexers ignore, every fault,
// pacing and noise.
#include <gtest/gtest.h>

#include <mutex>
#include <span>
#include <thread>

#include "muxsim/driver_end.h"
#include "muxsim/simulator.h"

namespace muxsim {
namespace {

using muxsim_test::Bytes;
using muxsim_test::Checksum;
using muxsim_test::DriverEnd;
using muxsim_test::Framed;
using muxsim_test::Hex;
using muxsim_test::Steady;
using roderavo_test::Acknowledgement;
using roderavo_test::StatusReply;
using std::chrono::milliseconds;

const std::array<uint8_t, 8> kClock{0x00, 0x20, 0x11, 0x06, 0x02, 0x08, 0x12, 0x33};
const Bytes kVerMux1{0xFF, 0x06, 0x11, 0x48, 0x3C, 0x10, 0x55};
const Bytes kKey1{0xFF, 0x07, 0x11, 0x06, 0x3E, 0x10, 0x35, 0x5F};
const Bytes kAck1{0xFF, 0x07, 0xF0, 0x04, 0x11, 0x10, 0x00, 0xE4};

class MuxsimLine : public ::testing::Test {
  protected:
    void SetUp() override { Start({}); }

    void Start(Options options) {
        options.clockMode = ClockMode::Frozen;
        sim_ = std::make_unique<Simulator>(std::move(options));
        for (int mux = 0; mux < kMuxCount; ++mux) sim_->SetClock(mux, kClock);
        sim_->SetVersion(1, "V2.1");
        ASSERT_TRUE(sim_->StartOnPty());
        ASSERT_EQ("/dev/" + sim_->PortName(), sim_->DevicePath());
        peer_ = std::make_unique<DriverEnd>(sim_->DevicePath());
        ASSERT_TRUE(peer_->Open());
    }

    void ExpectSilence(const Bytes& request, const char* what) {
        ASSERT_TRUE(peer_->Write(request));
        EXPECT_EQ(Hex(peer_->Read(1, milliseconds(250))), "") << what;
    }

    std::unique_ptr<Simulator> sim_;
    std::unique_ptr<DriverEnd> peer_;
};

TEST_F(MuxsimLine, AnswersEveryStatusRequest) {
    sim_->SetCameraState(25, CameraState::Alarm);
    sim_->SetCameraState(23, CameraState::VideoLoss);
    sim_->SetCameraState(100, CameraState::Unknown);
    sim_->SetVideoLoss(27, true);
    sim_->SetVideoLoss(40, true);
    Bytes aas1(20, 0x00);
    aas1[2] = 0x2E;  // camera 23
    aas1[4] = 0x20;  // camera 25
    Bytes vls1(20, 0x00);
    vls1[6] = 0x01;   // camera 27
    vls1[19] = 0x01;  // camera 40
    const Bytes report25{0xFF, 0x12, 0xF0, 0x49, 0x11, 0x10, 0x00, 0x20, 0x11, 0x06,
                         0x02, 0x08, 0x12, 0x33, 0x00, 0x00, 0x00, 0x20, 0xEE, 0x00};
    Bytes report100 = Framed({0xFF, 0x12, 0xF0, 0x49, 0x41, 0x10, 0x00, 0x20, 0x11, 0x06, 0x02,
                              0x08, 0x12, 0x33, 0x00, 0x00, 0x00, 0xFE});
    report100.push_back(0x00);
    struct Case {
        const char* name;
        Bytes request;
        Bytes reply;
    } cases[] = {
        {"VER mux 1", kVerMux1, {0xFF, 0x0A, 0xF0, 0x48, 0x11, 0x10, 'V', '2', '.', '1', 0xB6}},
        {"VER mux 0 default text",
         {0xFF, 0x06, 0x01, 0x48, 0x3C, 0x10, 0x65},
         StatusReply(
             0x48, 0x01,
             Bytes{'A', 'M', 'U', 'X', ' ', '2', '0', 'C', 'D', ' ', 'V', '2', '.', '1', '0'})},
        {"TAD mux 2",
         {0xFF, 0x06, 0x21, 0x07, 0x3C, 0x10, 0x86},
         {0xFF, 0x0E, 0xF0, 0x07, 0x21, 0x10, 0x00, 0x20, 0x11, 0x06, 0x02, 0x08, 0x12, 0x33,
          0x44}},
        {"ALS camera 25 in alarm", {0xFF, 0x07, 0x11, 0x49, 0x3C, 0x10, 0x19, 0x3A}, report25},
        {"ALS camera 5 without alarm",
         {0xFF, 0x07, 0x01, 0x49, 0x3C, 0x10, 0x05, 0x5E},
         {0xFF, 0x06, 0xF0, 0x49, 0x01, 0x10, 0xB0}},
        {"ALS camera 100", Framed({0xFF, 0x07, 0x41, 0x49, 0x3C, 0x10, 100}), report100},
        {"AAS mux 1", {0xFF, 0x06, 0x11, 0x50, 0x3C, 0x10, 0x4D}, StatusReply(0x50, 0x11, aas1)},
        {"VLS mux 1", {0xFF, 0x06, 0x11, 0x51, 0x3C, 0x10, 0x4C}, StatusReply(0x51, 0x11, vls1)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Hex(peer_->Exchange(c.request, c.reply.size())), Hex(c.reply)) << c.name;
    EXPECT_EQ(Hex(peer_->Read(1, milliseconds(100))), "");  // nothing more than announced
}

TEST_F(MuxsimLine, AcknowledgesEveryControlRequest) {
    struct Case {
        const char* name;
        Bytes request;
        uint8_t from;
    } cases[] = {
        {"KEY1 53", kKey1, 0x11},
        {"PTZ0 128", {0xFF, 0x07, 0x01, 0x16, 0x3E, 0x10, 0x80, 0x14}, 0x01},
        {"CAA 2", {0xFF, 0x06, 0x21, 0x4D, 0x3E, 0x10, 0x3E}, 0x21},
        {"IHK2075 (9,13)", {0xFF, 0x09, 0x21, 0x17, 0x3E, 0x10, 0x4B, 0x09, 0x0D, 0x10}, 0x21},
        {"IHK four keys", Framed({0xFF, 0x0B, 0x01, 0x17, 0x3E, 0x10, 0x46, 9, 13, 14, 32}), 0x01},
        {"JOY3 (10,-20,30)", {0xFF, 0x09, 0x31, 0x18, 0x3E, 0x10, 0x0A, 0xEC, 0x1E, 0x4C}, 0x31},
        {"JOY1 (-1,0,0)", {0xFF, 0x09, 0x11, 0x18, 0x3E, 0x10, 0xFF, 0x00, 0x00, 0x80}, 0x11},
        {"TAD0 write",
         {0xFF, 0x0E, 0x01, 0x07, 0x3E, 0x10, 0x00, 0x20, 0x12, 0x31, 0x01, 0x23, 0x59, 0x59, 0x63},
         0x01},
        {"INHPAIR4 frame 1", {0xFF, 0x09, 0x41, 0x17, 0x3E, 0x10, 0x32, 0x30, 0x31, 0xBE}, 0x41},
        {"INHPAIR4 frame 2", {0xFF, 0x09, 0x41, 0x17, 0x3E, 0x10, 0x35, 0x33, 0x34, 0xB5}, 0x41},
        {"PRESET2 frame 1", {0xFF, 0x07, 0x21, 0x06, 0x3E, 0x10, 0x09, 0x7B}, 0x21},
        {"PRESET2 frame 2", {0xFF, 0x07, 0x21, 0x06, 0x3E, 0x10, 0x0D, 0x77}, 0x21},
        {"PRESET2 frame 3", {0xFF, 0x07, 0x21, 0x16, 0x3E, 0x10, 0x14, 0x60}, 0x21},
    };
    EXPECT_EQ(Hex(Acknowledgement(0x11)), Hex(kAck1));
    for (const auto& c : cases)
        EXPECT_EQ(Hex(peer_->Exchange(c.request, 8)), Hex(Acknowledgement(c.from))) << c.name;

    const auto received = sim_->Received();
    ASSERT_EQ(received.size(), std::size(cases));
    for (std::size_t i = 0; i < received.size(); ++i) {
        EXPECT_EQ(received[i].bytes, cases[i].request) << cases[i].name;
        EXPECT_TRUE(received[i].checksumOk) << cases[i].name;
        EXPECT_TRUE(received[i].control) << cases[i].name;
        EXPECT_EQ(received[i].command, cases[i].request[3]) << cases[i].name;
        EXPECT_EQ(MuxAddress(received[i].mux), cases[i].from) << cases[i].name;
    }
}

TEST_F(MuxsimLine, TadWriteSetsTheClockAndCaaClearsThatMultiplexer) {
    const Bytes tad0{0xFF, 0x0E, 0x01, 0x07, 0x3E, 0x10, 0x00, 0x20,
                     0x12, 0x31, 0x01, 0x23, 0x59, 0x59, 0x63};
    ASSERT_EQ(Hex(peer_->Exchange(tad0, 8)), Hex(Acknowledgement(0x01)));
    EXPECT_EQ(sim_->ClockBytes(0),
              (std::array<uint8_t, 8>{0x00, 0x20, 0x12, 0x31, 0x01, 0x23, 0x59, 0x59}));
    EXPECT_EQ(sim_->ClockBytes(1), kClock);
    EXPECT_EQ(Hex(peer_->Exchange(Framed({0xFF, 0x06, 0x01, 0x07, 0x3C, 0x10}), 15)),
              Hex(StatusReply(0x07, 0x01, {0x00, 0x20, 0x12, 0x31, 0x01, 0x23, 0x59, 0x59})));

    sim_->SetCameraState(25, CameraState::Alarm);
    sim_->SetCameraState(40, CameraState::Unknown);
    sim_->SetCameraState(45, CameraState::Alarm);
    sim_->SetVideoLoss(25, true);
    ASSERT_EQ(Hex(peer_->Exchange({0xFF, 0x06, 0x11, 0x4D, 0x3E, 0x10, 0x4E}, 8)),
              Hex(Acknowledgement(0x11)));
    EXPECT_EQ(sim_->CameraStateByte(25), 0x00);
    EXPECT_EQ(sim_->CameraStateByte(40), 0x00);
    EXPECT_EQ(sim_->CameraStateByte(45), 0x20);  // multiplexer 2's camera
    EXPECT_EQ(sim_->VideoLossByte(25), 0x01);
    EXPECT_EQ(Hex(peer_->Exchange({0xFF, 0x07, 0x11, 0x49, 0x3C, 0x10, 0x19, 0x3A}, 7)),
              Hex(StatusReply(0x49, 0x11, {})));
}

TEST_F(MuxsimLine, ClockRunsWhenNotFrozen) {
    sim_->SetClockMode(3, ClockMode::Running);
    sim_->SetClock(3, {0x99, 0x19, 0x12, 0x31, 0x06, 0x23, 0x59, 0x59});
    const auto deadline = Steady::now() + std::chrono::seconds(3);
    const Bytes request = Framed({0xFF, 0x06, 0x31, 0x07, 0x3C, 0x10});
    Bytes reply;
    do {
        reply = peer_->Exchange(request, 15);
        ASSERT_EQ(reply.size(), 15u);
        if (reply[7] == 0x19) std::this_thread::sleep_for(milliseconds(100));
    } while (reply[7] == 0x19 && Steady::now() < deadline);
    EXPECT_EQ(Hex(Bytes(reply.begin() + 6, reply.begin() + 14)), "00 20 01 01 07 00 00 00");
}

TEST_F(MuxsimLine, IgnoresWhatADeviceOnASharedLineIgnores) {
    sim_->SetPresent(3, false);
    ExpectSilence(Framed({0xFF, 0x06, 0x31, 0x48, 0x3C, 0x10}), "absent multiplexer");
    ExpectSilence({0xFF, 0x06, 0x11, 0x48, 0x3C, 0x10, 0x56}, "bad checksum");
    ExpectSilence(Framed({0xFF, 0x06, 0x51, 0x48, 0x3C, 0x10}), "no such address");
    ExpectSilence(Framed({0xFF, 0x06, 0x11, 0x33, 0x3C, 0x10}), "unknown command");
    ExpectSilence(Framed({0xFF, 0x06, 0x11, 0x06, 0x3E, 0x10}), "KEY without key");
    ExpectSilence(Framed({0xFF, 0x07, 0x11, 0x48, 0x3C, 0x10, 0x01}), "VER with payload");
    ExpectSilence(Framed({0xFF, 0x06, 0x11, 0x48, 0x3D, 0x10}), "unknown source");
    ExpectSilence(Framed({0xFF, 0x06, 0x11, 0x48, 0x3C, 0x11}), "byte 5 not 0x10");
    ExpectSilence(Framed({0xFF, 0x0D, 0x01, 0x07, 0x3E, 0x10, 0, 0x20, 0x12, 0x31, 1, 0x23, 0}),
                  "TAD write with seven bytes");
    EXPECT_EQ(sim_->ClockBytes(0), kClock);

    const auto received = sim_->Received();
    ASSERT_EQ(received.size(), 9u);
    EXPECT_EQ(received[0].mux, 3);
    EXPECT_FALSE(received[1].checksumOk);
    EXPECT_EQ(received[2].mux, -1);

    sim_->SetPresent(3, true);
    EXPECT_EQ(peer_->Exchange(Framed({0xFF, 0x06, 0x31, 0x48, 0x3C, 0x10}), 22).size(), 22u);
}

TEST_F(MuxsimLine, SurvivesNoiseAndAnswersTheNextRequest) {
    uint32_t state = 4711;
    Bytes noise(3000);
    for (uint8_t& byte : noise) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(state >> 24);
    }
    ASSERT_TRUE(peer_->Write(noise));
    peer_->ReadUntilQuiet(milliseconds(300));  // chance frames in the noise may be answered
    EXPECT_TRUE(sim_->Serving());
    EXPECT_EQ(Hex(peer_->Exchange(kVerMux1, 11)),
              Hex(StatusReply(0x48, 0x11, {'V', '2', '.', '1'})));
    // A request right behind a start byte that announced a long frame is still answered.
    Bytes hidden{0xFF, 0x30, 0x00};
    hidden.insert(hidden.end(), kKey1.begin(), kKey1.end());
    EXPECT_EQ(Hex(peer_->Exchange(hidden, 8)), Hex(kAck1));
}

TEST_F(MuxsimLine, InjectsEveryFault) {
    const Bytes verReply = StatusReply(0x48, 0x11, {'V', '2', '.', '1'});
    auto validFrame = [](const Bytes& frame) {
        return frame.size() > 2 && frame[1] < frame.size() &&
               frame[frame[1]] == Checksum(std::span(frame.data(), frame[1]));
    };

    sim_->QueueFault({FaultKind::NoAnswer});
    ExpectSilence(kVerMux1, "no answer");

    sim_->QueueFault({FaultKind::BadChecksum});
    Bytes reply = peer_->Exchange(kVerMux1, verReply.size());
    ASSERT_EQ(reply.size(), verReply.size());
    EXPECT_EQ(Bytes(reply.begin(), reply.end() - 1), Bytes(verReply.begin(), verReply.end() - 1));
    EXPECT_NE(reply.back(), verReply.back());

    sim_->QueueFault({FaultKind::WrongSource});
    reply = peer_->Exchange(kVerMux1, verReply.size());
    EXPECT_TRUE(validFrame(reply)) << Hex(reply);
    ASSERT_EQ(reply.size(), verReply.size());
    EXPECT_NE(reply[4], 0x11);

    sim_->QueueFault({FaultKind::WrongCommand});
    reply = peer_->Exchange(kVerMux1, verReply.size());
    EXPECT_TRUE(validFrame(reply)) << Hex(reply);
    ASSERT_EQ(reply.size(), verReply.size());
    EXPECT_NE(reply[3], 0x48);

    sim_->QueueFault({FaultKind::WrongCommand});
    reply = peer_->Exchange(kKey1, 8);
    EXPECT_TRUE(validFrame(reply)) << Hex(reply);
    ASSERT_EQ(reply.size(), 8u);
    EXPECT_NE(reply[3], 0x04);

    sim_->QueueFault({FaultKind::AckStatus});
    EXPECT_EQ(Hex(peer_->Exchange(kKey1, 8)), Hex(Acknowledgement(0x11, 0x01)));

    sim_->QueueFault({FaultKind::Garbage, 0, 4});
    reply = peer_->Exchange(kVerMux1, 4 + verReply.size());
    ASSERT_EQ(reply.size(), 4 + verReply.size());
    for (int i = 0; i < 4; ++i) EXPECT_NE(reply[static_cast<std::size_t>(i)], 0xFF);
    EXPECT_EQ(Hex(Bytes(reply.begin() + 4, reply.end())), Hex(verReply));

    // The timed faults: the whole reply comes, but not before the time they add
    // (lower bounds only, so a busy machine cannot fail them).
    const auto timed = [&](Fault fault, const Bytes& request, const Bytes& expected) {
        sim_->QueueFault(fault);
        const auto start = Steady::now();
        EXPECT_TRUE(peer_->Write(request));
        const Bytes first = peer_->Read(expected.size(), milliseconds(150));
        Bytes all = first;
        const Bytes rest = peer_->Read(expected.size() - first.size(), milliseconds(5000));
        all.insert(all.end(), rest.begin(), rest.end());
        EXPECT_EQ(Hex(all), Hex(expected)) << FaultKindName(fault.kind);
        return std::pair{first.size(), Steady::now() - start};
    };
    const auto [splitFirst, split] = timed({FaultKind::SplitReply, 400}, kVerMux1, verReply);
    EXPECT_GE(splitFirst, 1u);
    EXPECT_GE(split, milliseconds(350));
    const auto [delayFirst, delay] = timed({FaultKind::Delay, 400}, kVerMux1, verReply);
    EXPECT_GE(delay, milliseconds(350));
    const auto [trickleFirst, trickle] = timed({FaultKind::Trickle, 150}, kKey1, kAck1);
    EXPECT_GE(trickleFirst, 1u);
    EXPECT_GE(trickle, milliseconds(7 * 150 - 100));
    (void)delayFirst;

    const Bytes hostile{0xFF, 0x40, 0xF0, 0x48, 0x11, 0x10, 0x01};
    sim_->QueueFault({FaultKind::Replace, 0, 0, hostile});
    ASSERT_TRUE(peer_->Write(kVerMux1));
    EXPECT_EQ(Hex(peer_->ReadUntilQuiet(milliseconds(200))), Hex(hostile));

    // A count: the next two answers stay away, the third comes.
    sim_->QueueFault({FaultKind::NoAnswer}, 2);
    ExpectSilence(kKey1, "first of two");
    ExpectSilence(kKey1, "second of two");
    EXPECT_EQ(Hex(peer_->Exchange(kKey1, 8)), Hex(kAck1));
}

TEST_F(MuxsimLine, StopInterruptsAPendingReply) {
    sim_->QueueFault({FaultKind::Delay, 20000});
    ASSERT_TRUE(peer_->Write(kVerMux1));
    ASSERT_TRUE(sim_->WaitForFrames(1, milliseconds(2000)));
    const auto start = Steady::now();
    sim_->Stop();
    EXPECT_LT(Steady::now() - start, std::chrono::seconds(2));
    EXPECT_FALSE(sim_->Serving());
    sim_->Stop();  // twice is harmless
}

TEST_F(MuxsimLine, RandomFaultsFollowTheSeed) {
    // The answered (A) or unanswered (-) pattern of twelve requests, read from the trace
    // once the simulator has stopped, so no time-out decides it.
    const auto pattern = [this](uint64_t seed) {
        std::vector<std::string> lines;
        Options options;
        options.seed = seed;
        options.randomFaults = {{{FaultKind::NoAnswer}, 0.5}};
        options.trace = true;
        options.traceSink = [&lines](std::string_view line) { lines.emplace_back(line); };
        Start(options);
        for (int i = 0; i < 12; ++i) EXPECT_TRUE(peer_->Write(kKey1));
        EXPECT_TRUE(sim_->WaitForFrames(12, milliseconds(5000)));
        sim_->Stop();
        std::string result;
        for (const std::string& line : lines) {
            if (line.rfind("<- ", 0) == 0) result += 'A';
            if (line.find("fault no-answer") != std::string::npos) result += '-';
        }
        return result;
    };
    const std::string first = pattern(7);
    EXPECT_EQ(first.size(), 12u);
    EXPECT_EQ(pattern(7), first);
    EXPECT_NE(first.find('A'), std::string::npos) << first;
    EXPECT_NE(first.find('-'), std::string::npos) << first;
}

TEST_F(MuxsimLine, KeepsOnlyTheLatestFramesWhenAskedTo) {
    Options options;
    options.keptFrames = 2;
    Start(options);
    for (uint8_t key = 0x30; key < 0x37; ++key)
        ASSERT_EQ(peer_->Exchange(Framed({0xFF, 0x07, 0x11, 0x06, 0x3E, 0x10, key}), 8).size(), 8u);
    const auto received = sim_->Received();
    EXPECT_GE(received.size(), 2u);
    EXPECT_LE(received.size(), 4u);
    EXPECT_EQ(received.back().bytes[6], 0x36);
    EXPECT_LE(sim_->Sent().size(), 4u);
}

TEST_F(MuxsimLine, PacesRepliesAtTheBaudRate) {
    Options options;
    options.baud = 1200;  // 120 bytes a second: an 8-byte ack takes about 67 ms
    Start(options);
    sim_->SetVersion(1, std::string(40, 'x'));  // a 47-byte reply: about 390 ms
    const auto start = Steady::now();
    const Bytes reply = peer_->Exchange(kVerMux1, 47, milliseconds(5000));
    const auto elapsed = Steady::now() - start;
    EXPECT_EQ(reply.size(), 47u);
    EXPECT_GE(elapsed, milliseconds(250));
    EXPECT_LT(elapsed, milliseconds(4000));
}

TEST_F(MuxsimLine, TracesBothDirections) {
    std::mutex mutex;
    std::vector<std::string> lines;
    Options options;
    options.trace = true;
    options.traceSink = [&](std::string_view line) {
        std::lock_guard lock(mutex);
        lines.emplace_back(line);
    };
    Start(options);
    ASSERT_EQ(peer_->Exchange(kVerMux1, 11).size(), 11u);
    ExpectSilence({0xFF, 0x06, 0x11, 0x48, 0x3C, 0x10, 0x56}, "bad checksum");
    sim_->Stop();
    std::lock_guard lock(mutex);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "-> mux 1 (0x11) VER status request, checksum ok: FF 06 11 48 3C 10 55");
    EXPECT_EQ(lines[1],
              "<- mux 1 (0x11) VER status reply: \"V2.1\", checksum ok: "
              "FF 0A F0 48 11 10 56 32 2E 31 B6");
    EXPECT_EQ(lines[2],
              "-> mux 1 (0x11) VER status request, checksum BAD (expected 55): "
              "FF 06 11 48 3C 10 56");
    EXPECT_EQ(lines[3], "   ignored: bad checksum");
}

TEST(MuxsimDevice, ServesASerialDeviceItIsGiven) {
    roderavo_test::PtyPeer device;
    ASSERT_TRUE(device.Ok());
    Simulator sim;
    ASSERT_TRUE(sim.StartOnDevice(device.Path()));
    device.ReleaseSlave();
    EXPECT_EQ("/dev/" + sim.PortName(), device.Path());
    ASSERT_TRUE(device.Send(kKey1));
    const Bytes reply = device.Receive(8);
    EXPECT_EQ(Hex(reply), Hex(kAck1));
    sim.Stop();
    EXPECT_FALSE(Simulator().StartOnDevice("/nonexistent/tty"));
}

}  // namespace
}  // namespace muxsim
