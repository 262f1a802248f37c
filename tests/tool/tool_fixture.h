// A simulator on a pty for the tool to talk to, with the cameras the tests look at.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <muxsim/simulator.h>

#include <string>
#include <vector>

#include "run_tool.h"

class ToolOnSimulator : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(sim.StartOnPty());
        sim.SetCameraState(27, muxsim::CameraState::Alarm);
        sim.SetCameraState(33, muxsim::CameraState::VideoLoss);
        sim.SetVideoLoss(33, true);
        sim.SetCameraState(100, muxsim::CameraState::Alarm);
        sim.SetVersion(1, "TEST V1");
        sim.SetClockMode(1, muxsim::ClockMode::Frozen);
        sim.SetClock(1, {0x00, 0x20, 0x11, 0x06, 0x02, 0x08, 0x12, 0x33});
    }
    void TearDown() override { sim.Stop(); }

    // The tool with the line options for the simulator's pty.
    ToolRun Run(const std::string& command, std::vector<std::string> args) {
        std::vector<std::string> all = {command, "--driver", RODERAVO_DRIVER, "--port",
                                        sim.PortName()};
        all.insert(all.end(), args.begin(), args.end());
        return RunTool(all);
    }

    muxsim::Simulator sim;
};

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = text.find('\n', start);
        lines.push_back(text.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return lines;
}
