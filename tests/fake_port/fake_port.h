// The fake platform backend: every call of serial/port.h and PlatformPause, on
// devices that live in the test process and a virtual clock. Time moves only when
// a read waits under the port's time-outs, when the driver pauses, or when the
// test advances it, so time-outs and pauses cost nothing and can be asserted
// exactly.
//
// A test makes a Line under a name; PortOpenExclusive(name) then opens it, once
// at a time. "NUL", in any case, is the null device as on the POSIX backend: it
// opens any number of times, has no line state or time-outs, takes every write
// and never has input. Handles are never 0.
//
// Reads follow PortTimeouts as the POSIX backend does: a total time-out of
// constant + multiplier x length from the start of the read; both 0 wait until
// all asked bytes are there; an interval time-out is refused. Bytes
// that arrive at the very moment a time-out ends are still taken. A read that
// would wait forever (nothing scheduled to arrive, no time-out) fails and counts
// as a stall: a fault of the test, not of the driver.
//
// One thread: the driver and the test side run on the same thread, and a
// device's answer to a write is scheduled from inside that write (OnWrite).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "serial/port.h"

namespace fake_port {

using Bytes = std::vector<uint8_t>;
using Ms = uint64_t;  // virtual milliseconds

// The virtual clock.
Ms Now();
void Advance(Ms milliseconds);

// Every PlatformPause, when it began and how long it was.
struct Pause {
    Ms at;
    uint32_t milliseconds;
};
const std::vector<Pause>& Pauses();

// What passed from its construction on: virtual time and the driver's pauses.
class Watch {
  public:
    Watch() : start_(Now()), firstPause_(Pauses().size()) {}
    Ms Elapsed() const { return Now() - start_; }
    std::size_t PauseCount() const { return Pauses().size() - firstPause_; }
    Ms PausedMs() const;

  private:
    Ms start_;
    std::size_t firstPause_;
};

// The calls a test can make fail, per line.
enum class Call {
    Open,
    Close,
    GetState,
    SetState,
    GetTimeouts,
    SetTimeouts,
    QueueSizes,
    ClearErrors,
    Read,
    Write,
};

// The system error a failed call of that kind carries, one per kind, so that a
// test can tell which call's error reached the host.
constexpr int32_t SystemErrorOf(Call call) {
    return 1000 + static_cast<int32_t>(call);
}

// What the driver last left as the thread's last error (PortSetLastError).
int32_t LastError();

// One write of the driver, with the virtual time it happened at.
struct Write {
    Ms at;
    Bytes bytes;
};

// A device on its line, the test's side of a port. It lives as long as the
// object: a handle still open on it then fails every call but the close.
class Line {
  public:
    explicit Line(std::string name);
    ~Line();
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    const std::string& Name() const { return name_; }

    // Bytes the device sends: they arrive in the port's input at the virtual time
    // given (now, by default) and wait there until read or flushed.
    void Arrive(const Bytes& bytes, Ms at);
    void Send(const Bytes& bytes) { Arrive(bytes, Now()); }
    // Forgets all input, arrived or still to come.
    void DropInput();
    // Forgets the input still to come; what has arrived stays.
    void DropInputToCome();
    // Bytes that have arrived and are not read yet.
    std::size_t Waiting() const;

    // Every write of the driver, in order.
    const std::vector<Write>& Writes() const { return writes_; }
    // All written bytes, one after the other.
    Bytes Written() const;
    // Called after every write with its bytes; the device answers from here.
    void OnWrite(std::function<void(const Bytes&)> responder) { responder_ = std::move(responder); }

    // The next `times` calls of that kind on this line fail.
    void Fail(Call call, int times = 1);
    // The next `times` writes on this line succeed with at most `bytes` bytes written.
    void ShortWrites(uint32_t bytes, int times = 1);
    // Called at the start of every call of the driver on an open port of this
    // line (all but the open and the close), before it is decided whether the
    // call fails: a test can arm failures for the call it sees coming (each
    // attempt of an exchange begins with a ClearErrors).
    void OnCall(std::function<void(Call)> observer) { observer_ = std::move(observer); }
    // The line is gone (device removed): every call on its port fails from now
    // on but the close, and it cannot be opened again.
    void Vanish() { gone_ = true; }

    bool IsOpen() const { return open_; }
    // The line state and time-outs last applied (the time-outs are 0 after an open).
    const roderavo::PortLineState& State() const { return state_; }
    const roderavo::PortTimeouts& Timeouts() const { return timeouts_; }
    uint32_t InputQueueSize() const { return inputQueueSize_; }
    uint32_t OutputQueueSize() const { return outputQueueSize_; }
    // Reads that would have waited forever.
    int Stalls() const { return stalls_; }

  private:
    friend struct LineAccess;
    struct Chunk {
        Ms at;
        Bytes bytes;
    };
    bool TakeFailure(Call call);

    std::string name_;
    bool open_ = false;
    bool gone_ = false;
    roderavo::PortLineState state_;
    roderavo::PortTimeouts timeouts_{};
    uint32_t inputQueueSize_ = 0;
    uint32_t outputQueueSize_ = 0;
    std::vector<Chunk> input_;  // ordered by arrival
    std::vector<Write> writes_;
    std::function<void(const Bytes&)> responder_;
    std::vector<int> failures_;  // per Call: calls still to fail
    uint32_t shortWriteBytes_ = 0;
    int shortWrites_ = 0;
    std::function<void(Call)> observer_;
    int stalls_ = 0;
};

}  // namespace fake_port
