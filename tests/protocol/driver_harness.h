// Drives the driver the way a host does: Init on a port, then reads and writes of
// gates through KorMain. On a real line the pauses are counted instead of waited;
// on the fake port they pass on its virtual clock (pause hook nullptr).
#pragma once

#include <roderavo/kor.h>
#include <zanpro/host.h>

#include <ostream>
#include <string>
#include <vector>

#include "platform/pause.h"
#include "support/host_records.h"

namespace protocol_test {

inline int pauseCount = 0;
inline uint32_t pauseTotalMs = 0;
inline void CountPause(uint32_t ms) {
    ++pauseCount;
    pauseTotalMs += ms;
}

using zanpro::LogLine;
using Log = std::vector<LogLine>;

inline constexpr int32_t kInstance = 3;

// The longest one read of n bytes waits on the harness's line (9600 baud 8N1, the
// 100 ms read time-out of Init's default): the time-out plus twice the wire time
// of the bytes, 2 ms a character.
constexpr uint64_t ReadWait(std::size_t bytes) {
    return 100 + 2 * 2 * bytes;
}

class DriverHarness {
  public:
    explicit DriverHarness(roderavo::PauseFunction pause = &CountPause) {
        zanpro::Reset();
        zanpro::SetLogSink([](int32_t, std::string_view) {});
        roderavo::SetPauseFunction(pause);
    }
    ~DriverHarness() {
        if (initialised_) Call(11, nullptr);
        roderavo::SetPauseFunction(nullptr);
        zanpro::SetLogSink({});
        zanpro::Reset();
    }

    // Init on the port (pollInterval in units of 10 ms sets the read time-out).
    int32_t Init(const std::string& portName, int32_t pollInterval = 10,
                 uint32_t openRequested = 1) {
        InitParams params = roderavo_test::MakeInitParams(portName, pollInterval, openRequested);
        const int32_t result = Call(1, &params);
        initialised_ = true;
        zanpro::ClearLog();
        pauseCount = 0;
        pauseTotalMs = 0;
        return result;
    }

    int32_t Call(uint32_t function, void* params) {
        return roderavo_test::CallDriver(context_, function, kInstance, params);
    }

    static GateParams Gate(const char* address, int32_t plcNum, int32_t accessClass,
                           int32_t valueKind, void* value) {
        return roderavo_test::MakeGateParams(address, plcNum, accessClass, valueKind, value);
    }

    // Reads a gate (function 5) after clearing the log and the pause count.
    int32_t Read(GateParams& gate) { return Run(5, gate); }
    // Writes a gate (function 7) likewise.
    int32_t Write(GateParams& gate) { return Run(7, gate); }

    DriverContext& Context() { return context_; }

  private:
    int32_t Run(uint32_t function, GateParams& gate) {
        zanpro::ClearLog();
        pauseCount = 0;
        pauseTotalMs = 0;
        return Call(function, &gate);
    }

    DriverContext context_{};
    bool initialised_ = false;
};

// The log lines of a read (function 5) or write (function 7), the entry line first.
inline Log Entered(int function) {
    return {{8, "VERODI: Entered KorMain(), with function " + std::to_string(function - 1)}};
}
inline Log operator+(Log a, const Log& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
inline Log One(int32_t level, std::string text) {
    return {{level, std::move(text)}};
}
inline Log Repeat(const Log& lines, int times) {
    Log out;
    for (int i = 0; i < times; ++i) out = out + lines;
    return out;
}

}  // namespace protocol_test

namespace zanpro {
inline void PrintTo(const LogLine& line, std::ostream* out) {
    *out << "[" << line.level << "] " << line.text;
}
}  // namespace zanpro
