// Reads and writes through KorMain against the multiplexer simulator on a pty.
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>

#include "driver_harness.h"
#include "muxsim/simulator.h"

namespace protocol_test {
namespace {

using Bytes = std::vector<uint8_t>;

using zanpro::AddGate;
using zanpro::GateText;
using zanpro::GateValue;

class ProtocolMuxsim : public ::testing::Test {
  protected:
    void SetUp() override {
        muxsim::Options options;
        options.clockMode = muxsim::ClockMode::Frozen;
        sim = std::make_unique<muxsim::Simulator>(options);
        ASSERT_TRUE(sim->StartOnPty());
        ASSERT_EQ(driver.Init(sim->PortName(), 20), 0);
    }

    std::vector<Bytes> Frames() {
        std::vector<Bytes> frames;
        for (const muxsim::ReceivedFrame& frame : sim->Received()) frames.push_back(frame.bytes);
        sim->ClearReceived();
        return frames;
    }

    int32_t ReadText(const char* address, int32_t plc, std::string& text, int32_t access = 2) {
        std::array<char, 64> buffer{};
        GateParams gate = DriverHarness::Gate(address, plc, access, 7, buffer.data());
        const int32_t result = driver.Read(gate);
        text = buffer.data();
        return result;
    }

    int32_t ReadNumber(const char* address, int32_t plc, uint16_t& number) {
        KorNumberValue value{0, number};
        GateParams gate = DriverHarness::Gate(address, plc, 2, 0, &value);
        const int32_t result = driver.Read(gate);
        number = value.Number;
        return result;
    }

    int32_t WriteNumber(const char* address, int32_t plc, uint16_t number) {
        KorNumberValue value{0, number};
        GateParams gate = DriverHarness::Gate(address, plc, 1, 0, &value);
        return driver.Write(gate);
    }

    int32_t WriteText(const char* address, int32_t plc, std::string text, int32_t access = 1) {
        GateParams gate = DriverHarness::Gate(address, plc, access, 7, text.data());
        return driver.Write(gate);
    }

    DriverHarness driver;
    std::unique_ptr<muxsim::Simulator> sim;
};

TEST_F(ProtocolMuxsim, VersionClockAndAlarmReport) {
    sim->SetVersion(1, "AMUX 20CD TEST");
    std::string text;
    EXPECT_EQ(ReadText("VER1", 1, text), 0);
    EXPECT_EQ(text, "AMUX 20CD TEST");
    EXPECT_EQ(Frames(), (std::vector<Bytes>{{0xFF, 0x06, 0x11, 0x48, 0x3C, 0x10, 0x55}}));

    sim->SetClock(2, {0x00, 0x20, 0x11, 0x06, 0x02, 0x08, 0x12, 0x33});
    EXPECT_EQ(ReadText("TAD2", 2, text, 3), 0);
    EXPECT_EQ(text, "06.11.2000 08:12:33 hrs");
    EXPECT_EQ(Frames(), (std::vector<Bytes>{{0xFF, 0x06, 0x21, 0x07, 0x3C, 0x10, 0x86}}));

    const uint32_t tas = AddGate(kInstance, "TAS005");
    sim->SetClock(0, {0x00, 0x20, 0x11, 0x06, 0x02, 0x08, 0x12, 0x33});
    sim->SetCameraState(5, muxsim::CameraState::Alarm);
    uint16_t state = 0;
    EXPECT_EQ(ReadNumber("ALS005", 0, state), 0);
    EXPECT_EQ(state, 0x20);
    EXPECT_EQ(GateText(tas), "06.11.2000 08:12:33 hrs Alarm");
    EXPECT_EQ(Frames(), (std::vector<Bytes>{{0xFF, 0x07, 0x01, 0x49, 0x3C, 0x10, 0x05, 0x5E}}));

    sim->SetCameraState(5, muxsim::CameraState::None);
    state = 7;
    EXPECT_EQ(ReadNumber("ALS005", 0, state), 0);
    EXPECT_EQ(state, 0);
    EXPECT_EQ(zanpro::Log(), Entered(5));
}

TEST_F(ProtocolMuxsim, CameraListsOfMultiplexerFourAreComplete) {
    std::vector<uint32_t> sac, svc;
    for (int camera = 81; camera <= 100; ++camera) {
        const std::string number =
            "4" + (camera == 100 ? std::string("100") : std::to_string(camera));
        sac.push_back(AddGate(kInstance, "SAC" + number));
        svc.push_back(AddGate(kInstance, "SVC" + number));
    }
    sim->SetCameraState(100, muxsim::CameraState::VideoLoss);
    sim->SetCameraState(81, muxsim::CameraState::Unknown);
    sim->SetVideoLoss(100, true);
    uint16_t result = 0;
    EXPECT_EQ(ReadNumber("AAS4", 4, result), 0);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(GateValue(sac[0]), 254.0);
    EXPECT_EQ(GateValue(sac[19]), 46.0);
    result = 0;
    EXPECT_EQ(ReadNumber("VLS4", 4, result), 0);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(GateValue(svc[19]), 1.0);
    EXPECT_EQ(GateValue(svc[0]), 0.0);
    EXPECT_EQ(zanpro::Log(), Entered(5));

    const uint32_t tas = AddGate(kInstance, "TAS4100");
    EXPECT_EQ(ReadNumber("ALS4100", 4, result), 0);
    EXPECT_EQ(result, 0x2E);
    ASSERT_TRUE(GateText(tas).has_value());
    EXPECT_TRUE(GateText(tas)->ends_with(" hrs Video Loss"));
}

TEST_F(ProtocolMuxsim, WritesAreAcknowledgedAndApplied) {
    EXPECT_EQ(WriteNumber("KEY1", 1, 53), 0);
    EXPECT_EQ(Frames(), (std::vector<Bytes>{{0xFF, 0x07, 0x11, 0x06, 0x3E, 0x10, 0x35, 0x5F}}));

    EXPECT_EQ(WriteText("TAD0", 0, "(31,12,2000,23,59,59)", 3), 0);
    EXPECT_EQ(Frames(), (std::vector<Bytes>{{0xFF, 0x0E, 0x01, 0x07, 0x3E, 0x10, 0x00, 0x20, 0x12,
                                             0x31, 0x01, 0x23, 0x59, 0x59, 0x63}}));
    std::string text;
    EXPECT_EQ(ReadText("TAD0", 0, text, 3), 0);
    EXPECT_EQ(text, "31.12.2000 23:59:59 hrs");

    // CAA to multiplexer 2 is acknowledged by multiplexer 2 and succeeds at once.
    sim->SetCameraState(45, muxsim::CameraState::Alarm);
    sim->ClearReceived();
    EXPECT_EQ(WriteNumber("CAA", 0, 2), 0);
    EXPECT_EQ(Frames(), (std::vector<Bytes>{{0xFF, 0x06, 0x21, 0x4D, 0x3E, 0x10, 0x3E}}));
    EXPECT_EQ(sim->CameraStateByte(45), 0x00);
    EXPECT_EQ(pauseCount, 1);

    EXPECT_EQ(WriteText("INHPAIR4", 4, "(48,49,50,51,52,53)"), 0);
    EXPECT_EQ(Frames(),
              (std::vector<Bytes>{{0xFF, 0x09, 0x41, 0x17, 0x3E, 0x10, 0x32, 0x30, 0x31, 0xBE},
                                  {0xFF, 0x09, 0x41, 0x17, 0x3E, 0x10, 0x35, 0x33, 0x34, 0xB5}}));
    EXPECT_EQ(WriteText("PRESET2", 2, "(9,13)"), 0);
    EXPECT_EQ(Frames(), (std::vector<Bytes>{{0xFF, 0x07, 0x21, 0x06, 0x3E, 0x10, 0x09, 0x7B},
                                            {0xFF, 0x07, 0x21, 0x06, 0x3E, 0x10, 0x0D, 0x77},
                                            {0xFF, 0x07, 0x21, 0x16, 0x3E, 0x10, 0x14, 0x60}}));
    EXPECT_EQ(WriteText("JOY3", 3, "(10,-20,30)"), 0);
    EXPECT_EQ(WriteText("IHK2075", 2, "(9,13)"), 0);
    EXPECT_EQ(WriteNumber("PTZ0", 0, 128), 0);
    EXPECT_EQ(Frames().size(), 3u);
}

TEST_F(ProtocolMuxsim, FaultsOnTheLine) {
    std::string text;
    struct Case {
        muxsim::FaultKind kind;
        int count;
        int32_t read;
        int pauses;
    };
    const std::vector<Case> cases = {
        {muxsim::FaultKind::NoAnswer, 5, 2, 5},    {muxsim::FaultKind::BadChecksum, 5, 1, 5},
        {muxsim::FaultKind::WrongSource, 5, 1, 5}, {muxsim::FaultKind::WrongCommand, 5, 1, 5},
        {muxsim::FaultKind::NoAnswer, 4, 0, 4},    {muxsim::FaultKind::Garbage, 1, 0, 1},
        {muxsim::FaultKind::SplitReply, 1, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(muxsim::FaultKindName(c.kind)) + " x" + std::to_string(c.count));
        sim->ClearFaults();
        sim->QueueFault({c.kind, c.kind == muxsim::FaultKind::SplitReply ? 40 : 0, 0}, c.count);
        EXPECT_EQ(ReadText("VER0", 0, text), c.read);
        EXPECT_EQ(pauseCount, c.pauses);
    }
    sim->ClearFaults();
    sim->QueueFault({muxsim::FaultKind::AckStatus, 0, 0}, 5);
    EXPECT_EQ(WriteNumber("KEY0", 0, 9), 1);
    EXPECT_EQ(zanpro::Log(), Entered(7) + One(32, "VERODI: wrong receive"));
    EXPECT_EQ(pauseCount, 6);
}

}  // namespace
}  // namespace protocol_test
