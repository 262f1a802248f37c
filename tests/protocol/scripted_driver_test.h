// The fixture of the protocol tests: the driver initialised on a line whose other
// side plays a script of multiplexer answers. Two flavours with the same steps:
// a pseudo-terminal (ScriptedDriverTest: real time, pauses counted, not waited)
// and the fake port (FakeScriptedDriverTest: virtual time, pauses passed on it).
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "driver_harness.h"
#include "fake_scripted_peer.h"
#include "scripted_peer.h"

namespace protocol_test {

template <class Peer>
class BasicScriptedDriverTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(peer.Ok());
        ASSERT_EQ(driver.Init(peer.PortName()), 0);
    }
    void TearDown() override {
        if constexpr (Peer::kVirtualTime) {
            EXPECT_EQ(peer.Line().Stalls(), 0) << "a read waited for bytes that never came";
        }
    }

    // Runs one read (function 5) against the script; returns the result.
    int32_t ReadWith(GateParams& gate, std::vector<Step> steps) {
        return Exchange(gate, std::move(steps), &DriverHarness::Read);
    }
    // Runs one write (function 7) against the script; returns the result.
    int32_t WriteWith(GateParams& gate, std::vector<Step> steps) {
        return Exchange(gate, std::move(steps), &DriverHarness::Write);
    }

    // The pauses of the last exchange: how many, and their milliseconds.
    std::size_t PauseCount() const {
        if constexpr (Peer::kVirtualTime)
            return peer.Watch().PauseCount();
        else
            return static_cast<std::size_t>(pauseCount);
    }
    uint64_t PausedMs() const {
        if constexpr (Peer::kVirtualTime)
            return peer.Watch().PausedMs();
        else
            return pauseTotalMs;
    }
    // The virtual milliseconds the last exchange took (fake port only).
    uint64_t Elapsed() const { return peer.Watch().Elapsed(); }

    Peer peer;
    DriverHarness driver{Peer::kVirtualTime ? nullptr : &CountPause};

  private:
    int32_t Exchange(GateParams& gate, std::vector<Step> steps,
                     int32_t (DriverHarness::*operation)(GateParams&)) {
        peer.Run(std::move(steps));
        const int32_t result = (driver.*operation)(gate);
        EXPECT_TRUE(peer.Finish()) << "steps of the script were left over";
        return result;
    }
};

using ScriptedDriverTest = BasicScriptedDriverTest<ScriptedPeer>;
using FakeScriptedDriverTest = BasicScriptedDriverTest<FakeScriptedPeer>;

}  // namespace protocol_test
