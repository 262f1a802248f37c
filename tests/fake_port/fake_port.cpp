// The fake backend: the lines a test made, the handles open on them, the virtual
// clock, and the calls of serial/port.h and PlatformPause over them.
#include "fake_port/fake_port.h"

#include <algorithm>
#include <optional>

#include "platform/platform_pause.h"

namespace fake_port {

using roderavo::PortHandle;
using roderavo::PortLineState;
using roderavo::PortTimeouts;

namespace {

inline constexpr std::size_t kCallKinds = static_cast<std::size_t>(Call::Write) + 1;

Ms currentTime = 0;
std::vector<Pause> pauses;
int32_t lastError = 0;
std::vector<Line*> lines;

// An open handle: on a line, on the null device, or on a line that no longer
// exists (line nullptr, not null).
struct OpenHandle {
    PortHandle handle;
    Line* line;
    bool isNull;
};
std::vector<OpenHandle> handles;
PortHandle nextHandle = 1;

// What a fresh device reports before anything is applied.
constexpr PortLineState kDeviceDefaults = [] {
    PortLineState s{};
    s.BaudRate = 9600;
    s.fBinary = 1;
    s.fTXContinueOnXoff = 1;
    s.XonLim = 2048;
    s.XoffLim = 512;
    s.ByteSize = 8;
    s.Parity = roderavo::kParityNone;
    s.StopBits = roderavo::kStopBitsOne;
    s.XonChar = 0x11;
    s.XoffChar = 0x13;
    s.EofChar = 0x1A;
    s.EvtChar = 0x0D;
    return s;
}();

// What a POSIX line cannot take, refused here too so that the driver meets the
// same answers: one and a half stop bits, DTR handshake, RTS toggle, DSR flow
// control, data bits outside 5 to 8, unknown parity codes, speed 0.
bool CanApplyState(const PortLineState& s) {
    return s.BaudRate != 0 && s.ByteSize >= 5 && s.ByteSize <= 8 &&
           (s.StopBits == roderavo::kStopBitsOne || s.StopBits == roderavo::kStopBitsTwo) &&
           s.Parity <= roderavo::kParitySpace && s.fDtrControl <= roderavo::kDtrControlEnable &&
           s.fRtsControl <= roderavo::kRtsControlHandshake && s.fOutxDsrFlow == 0 &&
           s.fDsrSensitivity == 0;
}

bool IsNullName(std::string_view name) {
    const std::string_view null = roderavo::kNullDeviceName;
    return name.size() == null.size() &&
           std::equal(name.begin(), name.end(), null.begin(), [](char a, char b) {
               return (a >= 'a' && a <= 'z' ? static_cast<char>(a - 'a' + 'A') : a) == b;
           });
}

OpenHandle* Find(PortHandle handle) {
    for (OpenHandle& open : handles)
        if (open.handle == handle) return &open;
    return nullptr;
}

}  // namespace

// The backend's way into a line.
struct LineAccess {
    // The line of an open handle, when it can take the call; else nullptr.
    static Line* Usable(PortHandle handle, Call call) {
        const OpenHandle* open = Find(handle);
        if (open == nullptr || open->line == nullptr) return nullptr;
        Line* line = open->line;
        if (line->observer_) {
            const std::function<void(Call)> observer = line->observer_;  // may replace itself
            observer(call);
        }
        if (line->gone_ || line->TakeFailure(call)) return nullptr;
        return line;
    }

    static bool Open(std::string_view name, PortHandle* handle) {
        if (IsNullName(name)) {
            handles.push_back({nextHandle, nullptr, true});
            *handle = nextHandle++;
            return true;
        }
        const auto found =
            std::find_if(lines.begin(), lines.end(), [&](Line* l) { return l->name_ == name; });
        if (found == lines.end()) return false;
        Line* line = *found;
        if (line->TakeFailure(Call::Open) || line->open_ || line->gone_) return false;
        line->open_ = true;
        line->timeouts_ = {};
        handles.push_back({nextHandle, line, false});
        *handle = nextHandle++;
        return true;
    }

    static bool Close(PortHandle handle) {
        const auto found = std::find_if(handles.begin(), handles.end(),
                                        [&](const OpenHandle& o) { return o.handle == handle; });
        if (found == handles.end()) return false;
        Line* line = found->line;
        if (line != nullptr && line->TakeFailure(Call::Close)) return false;
        if (line != nullptr) line->open_ = false;
        handles.erase(found);
        return true;
    }

    static bool GetState(PortHandle handle, PortLineState* state) {
        const Line* line = Usable(handle, Call::GetState);
        if (line == nullptr || state == nullptr) return false;
        *state = line->state_;
        return true;
    }
    static bool SetState(PortHandle handle, const PortLineState& state) {
        Line* line = Usable(handle, Call::SetState);
        if (line == nullptr || !CanApplyState(state)) return false;
        line->state_ = state;
        return true;
    }
    static bool GetTimeouts(PortHandle handle, PortTimeouts* timeouts) {
        const Line* line = Usable(handle, Call::GetTimeouts);
        if (line == nullptr || timeouts == nullptr) return false;
        *timeouts = line->timeouts_;
        return true;
    }
    static bool SetTimeouts(PortHandle handle, const PortTimeouts& timeouts) {
        Line* line = Usable(handle, Call::SetTimeouts);
        if (line == nullptr || timeouts.ReadIntervalTimeout != 0) return false;
        line->timeouts_ = timeouts;
        return true;
    }
    static bool SetQueueSizes(PortHandle handle, uint32_t inputSize, uint32_t outputSize) {
        Line* line = Usable(handle, Call::QueueSizes);
        if (line == nullptr) return false;
        line->inputQueueSize_ = inputSize;
        line->outputQueueSize_ = outputSize;
        return true;
    }
    static bool ClearErrors(PortHandle handle, uint32_t* inputQueued) {
        const Line* line = Usable(handle, Call::ClearErrors);
        if (line == nullptr || inputQueued == nullptr) return false;
        *inputQueued = static_cast<uint32_t>(line->Waiting());
        return true;
    }

    static bool Read(PortHandle handle, uint8_t* buffer, uint32_t length, uint32_t* received) {
        if (received == nullptr || (buffer == nullptr && length != 0)) return false;
        const OpenHandle* open = Find(handle);
        if (open != nullptr && open->isNull) {
            *received = 0;  // nothing ever arrives, and nothing waits for it
            return true;
        }
        Line* line = Usable(handle, Call::Read);
        if (line == nullptr) return false;
        *received = 0;
        return ReadUnderTimeouts(*line, buffer, length, received);
    }

    static bool Write(PortHandle handle, const uint8_t* buffer, uint32_t length,
                      uint32_t* written) {
        if (written == nullptr || (buffer == nullptr && length != 0)) return false;
        const OpenHandle* open = Find(handle);
        if (open != nullptr && open->isNull) {
            *written = length;
            return true;
        }
        Line* line = Usable(handle, Call::Write);
        if (line == nullptr) return false;
        if (line->shortWrites_ > 0) {
            --line->shortWrites_;
            length = std::min(length, line->shortWriteBytes_);
        }
        Bytes bytes(buffer, buffer + length);
        line->writes_.push_back({currentTime, bytes});
        *written = length;
        // A copy, so that the responder may replace itself.
        const std::function<void(const Bytes&)> responder = line->responder_;
        if (responder) responder(bytes);
        return true;
    }

  private:
    // Moves the bytes that have arrived by now into buffer, up to room.
    static uint32_t TakeArrived(Line& line, uint8_t* buffer, uint32_t room) {
        uint32_t taken = 0;
        while (taken < room && !line.input_.empty() && line.input_.front().at <= currentTime) {
            Bytes& bytes = line.input_.front().bytes;
            const auto n = static_cast<uint32_t>(std::min<std::size_t>(room - taken, bytes.size()));
            std::copy_n(bytes.begin(), n, buffer + taken);
            bytes.erase(bytes.begin(), bytes.begin() + n);
            if (bytes.empty()) line.input_.erase(line.input_.begin());
            taken += n;
        }
        return taken;
    }

    static std::optional<Ms> NextArrival(const Line& line) {
        for (const Line::Chunk& chunk : line.input_)
            if (chunk.at > currentTime) return chunk.at;
        return std::nullopt;
    }

    static bool ReadUnderTimeouts(Line& line, uint8_t* buffer, uint32_t length,
                                  uint32_t* received) {
        const PortTimeouts& t = line.timeouts_;
        const Ms total = Ms{t.ReadTotalTimeoutMultiplier} * length + t.ReadTotalTimeoutConstant;
        const Ms deadline = currentTime + total;

        uint32_t got = 0;
        for (;;) {
            got += TakeArrived(line, buffer + got, length - got);
            *received = got;
            if (got == length) return true;
            std::optional<Ms> end;  // when the wait for more bytes ends
            if (total > 0) end = deadline;
            const std::optional<Ms> next = NextArrival(line);
            if (next && (!end || *next <= *end)) {
                currentTime = *next;
                continue;
            }
            if (!end) {
                ++line.stalls_;
                return false;
            }
            currentTime = std::max(currentTime, *end);
            return true;
        }
    }
};

Ms Now() {
    return currentTime;
}

void Advance(Ms milliseconds) {
    currentTime += milliseconds;
}

const std::vector<Pause>& Pauses() {
    return pauses;
}

int32_t LastError() {
    return lastError;
}

Ms Watch::PausedMs() const {
    Ms total = 0;
    for (std::size_t i = firstPause_; i < pauses.size(); ++i) total += pauses[i].milliseconds;
    return total;
}

Line::Line(std::string name)
    : name_(std::move(name)), state_(kDeviceDefaults), failures_(kCallKinds, 0) {
    lines.push_back(this);
}

Line::~Line() {
    std::erase(lines, this);
    for (OpenHandle& open : handles)
        if (open.line == this) open.line = nullptr;
}

void Line::Arrive(const Bytes& bytes, Ms at) {
    if (bytes.empty()) return;
    // After every chunk that arrives no later: bytes of the same moment keep their order.
    const auto after = std::find_if(input_.begin(), input_.end(),
                                    [&](const Chunk& chunk) { return chunk.at > at; });
    input_.insert(after, Chunk{at, bytes});
}

void Line::DropInput() {
    input_.clear();
}

void Line::DropInputToCome() {
    std::erase_if(input_, [](const Chunk& chunk) { return chunk.at > currentTime; });
}

std::size_t Line::Waiting() const {
    std::size_t count = 0;
    for (const Chunk& chunk : input_)
        if (chunk.at <= currentTime) count += chunk.bytes.size();
    return count;
}

Bytes Line::Written() const {
    Bytes all;
    for (const Write& write : writes_)
        all.insert(all.end(), write.bytes.begin(), write.bytes.end());
    return all;
}

void Line::Fail(Call call, int times) {
    failures_[static_cast<std::size_t>(call)] += times;
}

void Line::ShortWrites(uint32_t bytes, int times) {
    shortWriteBytes_ = bytes;
    shortWrites_ = times;
}

bool Line::TakeFailure(Call call) {
    int& left = failures_[static_cast<std::size_t>(call)];
    if (left == 0) return false;
    --left;
    return true;
}

}  // namespace fake_port

// The seams, over the lines above.
namespace roderavo {

using fake_port::LineAccess;

namespace {

// A fake call's verdict as the seam gives it: a failure carries its call's error.
SerialResult ResultOf(bool succeeded, fake_port::Call call) {
    if (succeeded) return kSerialOk;
    return {SerialStatus::CallFailed, fake_port::SystemErrorOf(call)};
}

}  // namespace

using fake_port::Call;

SerialResult PortOpenExclusive(std::string_view name, PortHandle* handle) {
    if (handle != nullptr) *handle = 0;
    return ResultOf(handle != nullptr && !name.empty() && LineAccess::Open(name, handle),
                    Call::Open);
}

SerialResult PortClose(PortHandle handle) {
    return ResultOf(LineAccess::Close(handle), Call::Close);
}

SerialResult PortGetState(PortHandle handle, PortLineState* state) {
    return ResultOf(LineAccess::GetState(handle, state), Call::GetState);
}

SerialResult PortSetState(PortHandle handle, const PortLineState& state) {
    return ResultOf(LineAccess::SetState(handle, state), Call::SetState);
}

SerialResult PortGetTimeouts(PortHandle handle, PortTimeouts* timeouts) {
    return ResultOf(LineAccess::GetTimeouts(handle, timeouts), Call::GetTimeouts);
}

SerialResult PortSetTimeouts(PortHandle handle, const PortTimeouts& timeouts) {
    return ResultOf(LineAccess::SetTimeouts(handle, timeouts), Call::SetTimeouts);
}

SerialResult PortSetQueueSizes(PortHandle handle, uint32_t inputSize, uint32_t outputSize) {
    return ResultOf(LineAccess::SetQueueSizes(handle, inputSize, outputSize), Call::QueueSizes);
}

SerialResult PortClearErrors(PortHandle handle, uint32_t* inputQueued) {
    return ResultOf(LineAccess::ClearErrors(handle, inputQueued), Call::ClearErrors);
}

SerialResult PortRead(PortHandle handle, uint8_t* buffer, uint32_t length, uint32_t* received) {
    return ResultOf(LineAccess::Read(handle, buffer, length, received), Call::Read);
}

SerialResult PortWrite(PortHandle handle, const uint8_t* buffer, uint32_t length,
                       uint32_t* written) {
    return ResultOf(LineAccess::Write(handle, buffer, length, written), Call::Write);
}

void PortSetLastError(int32_t systemError) {
    fake_port::lastError = systemError;
}

// The driver's pauses pass on the same currentTime as the reads.
void PlatformPause(uint32_t milliseconds) {
    fake_port::pauses.push_back({fake_port::currentTime, milliseconds});
    fake_port::currentTime += milliseconds;
}

}  // namespace roderavo
