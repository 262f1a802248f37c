// The fixture of the protocol tests: the driver initialised on a pseudo-terminal
// whose other side plays a script of multiplexer answers.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "driver_harness.h"
#include "scripted_peer.h"

namespace protocol_test {

class ScriptedDriverTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(peer.Ok());
        ASSERT_EQ(driver.Init(peer.PortName()), 0);
    }

    // Runs one read (function 5) against the script; returns the result.
    int32_t ReadWith(GateParams& gate, std::vector<Step> steps) {
        return Exchange(gate, std::move(steps), &DriverHarness::Read);
    }
    // Runs one write (function 7) against the script; returns the result.
    int32_t WriteWith(GateParams& gate, std::vector<Step> steps) {
        return Exchange(gate, std::move(steps), &DriverHarness::Write);
    }

    ScriptedPeer peer;
    DriverHarness driver;

  private:
    int32_t Exchange(GateParams& gate, std::vector<Step> steps,
                     int32_t (DriverHarness::*operation)(GateParams&)) {
        peer.Run(std::move(steps));
        const int32_t result = (driver.*operation)(gate);
        peer.Finish();
        return result;
    }
};

}  // namespace protocol_test
