// muxsim: a simulator of up to five Amux 20CD video multiplexers on one serial line.
//
// The simulator is the device side of the line: it reads request frames, answers status
// requests with status replies and control requests with acknowledgements, and keeps the
// state that those frames read and change (version texts, clocks, camera alarm states and
// video-loss flags). It serves either a pseudo-terminal that it creates (the driver opens
// the slave side, named by PortName()) or a serial device that it is given.
//
// Faults can be injected per answered frame (QueueFault) or at random with a seed
// (Options::randomFaults), and replies can be paced like a real line (Options::baud).
//
// The state, fault and log functions may be called from any thread while the simulator
// serves; start and stop it from one thread.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "roderavo/product.h"

namespace muxsim {

// The line the simulator serves is the product's (roderavo/product.h).
inline constexpr int kMuxCount = RODERAVO_MULTIPLEXERS;
inline constexpr int kCamerasPerMux = RODERAVO_CAMERAS_PER_MULTIPLEXER;
inline constexpr int kCameraCount = RODERAVO_CAMERAS;  // cameras 1..100

// The address byte of multiplexer 0..4: 0x01, 0x11, 0x21, 0x31, 0x41.
constexpr uint8_t MuxAddress(int mux) {
    return static_cast<uint8_t>(16 * mux + 1);
}

// Frame bytes.
inline constexpr uint8_t kStartByte = 0xFF;
inline constexpr uint8_t kHostAddress = 0xF0;    // destination of every reply
inline constexpr uint8_t kStatusSource = 0x3C;   // '<': a status request
inline constexpr uint8_t kControlSource = 0x3E;  // '>': a control request
inline constexpr uint8_t kFrameMarker = 0x10;    // position 5 of every frame
inline constexpr uint8_t kAckCommand = 0x04;     // command byte of an acknowledgement

// Command codes.
inline constexpr uint8_t kCmdVer = 0x48;
inline constexpr uint8_t kCmdAls = 0x49;
inline constexpr uint8_t kCmdAas = 0x50;
inline constexpr uint8_t kCmdVls = 0x51;
inline constexpr uint8_t kCmdTad = 0x07;  // status (read) and control (set the clock)
inline constexpr uint8_t kCmdKey = 0x06;
inline constexpr uint8_t kCmdPtz = 0x16;
inline constexpr uint8_t kCmdCaa = 0x4D;
inline constexpr uint8_t kCmdIhk = 0x17;  // also the two frames of an INHPAIR
inline constexpr uint8_t kCmdJoy = 0x18;

// The alarm state of a camera as the multiplexer reports it.
enum class CameraState : uint8_t { None = 0x00, Alarm = 0x20, VideoLoss = 0x2E, Unknown = 0xFE };

enum class FaultKind {
    NoAnswer,      // the frame is not answered
    BadChecksum,   // the reply's checksum byte is wrong
    WrongSource,   // the reply comes from another multiplexer's address
    WrongCommand,  // the reply carries another command code
    AckStatus,     // an acknowledgement carries status 0x01 (status replies are unchanged)
    SplitReply,    // the reply goes out in two parts with a gap of `ms` between them
    Delay,         // the reply goes out `ms` after the request
    Garbage,       // `count` bytes of noise (never 0xFF) precede the reply
    Trickle,       // the reply goes out one byte every `ms`
    Replace,       // `bytes` go out instead of the reply, exactly as given (any length byte)
};

// Default times of the timed faults, used when Fault::ms is 0.
inline constexpr int kDefaultSplitGapMs = 100;
inline constexpr int kDefaultDelayMs = 300;
inline constexpr int kDefaultTrickleMs = 200;
inline constexpr int kDefaultGarbageBytes = 3;

struct Fault {
    FaultKind kind = FaultKind::NoAnswer;
    int ms = 0;                    // gap, delay or per-byte interval; 0 takes the default above
    int count = 0;                 // Garbage: number of noise bytes; 0 takes the default
    std::vector<uint8_t> bytes{};  // Replace: what goes on the line instead of the reply
};

// A fault that strikes each answered frame with the given probability (0..1).
struct RandomFault {
    Fault fault;
    double probability = 0;
};

// One complete frame taken from the line (whatever its checksum or destination).
struct ReceivedFrame {
    std::vector<uint8_t> bytes{};
    bool checksumOk = false;
    int mux = -1;          // 0..4 from the destination byte, -1 for any other destination
    uint8_t command = 0;   // position 3
    bool control = false;  // source 0x3E
};

// How a multiplexer's clock moves.
enum class ClockMode { Running, Frozen };

struct Options {
    std::array<bool, kMuxCount> present{true, true, true, true, true};
    // 0: replies go out at once; else the line runs at baud/10 bytes a second both ways:
    // requests take their wire time before they are answered, reply bytes are paced.
    uint32_t baud = 0;
    bool trace = false;
    std::function<void(std::string_view)> traceSink{};  // one line per call; stderr when empty
    uint64_t seed = 0;
    std::vector<RandomFault> randomFaults{};
    ClockMode clockMode = ClockMode::Running;  // of every multiplexer at the start
    std::size_t keptFrames = 0;  // Received()/Sent() keep at least the latest this many; 0: all
};

// What a simulator that runs for long (muxsim, the tool's) keeps of its frames, so
// that its memory stays flat.
inline constexpr std::size_t kLongRunKeptFrames = 1000;

// Texts.
std::string_view CameraStateName(uint8_t state);  // "None", "Alarm", "Video Loss", "Unknown", ""
std::string_view FaultKindName(FaultKind kind);   // "no-answer", "bad-checksum", ...
bool ParseFaultKind(std::string_view name, FaultKind* kind);
bool ParseCameraState(std::string_view name, CameraState* state);  // case-insensitive; also hex
// The checksum of frame positions 0..count-1: bytes 0xFF are left out, the sum is negated.
uint8_t FrameChecksum(const uint8_t* frame, std::size_t count);
// A person-readable description of one frame, e.g.
// "mux 1 (0x11) VER status request, checksum ok: FF 06 11 48 3C 10 55".
std::string DescribeFrame(const std::vector<uint8_t>& frame);

class Simulator {
  public:
    explicit Simulator(Options options = {});
    ~Simulator();  // stops
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    bool StartOnPty();                            // a new pty; serves its master side on a thread
    bool StartOnDevice(const std::string& path);  // a real serial device (raw, 8N1, Options::baud)
    std::string PortName() const;                 // "pts/4": what the driver's PortName takes
    std::string DevicePath() const;               // "/dev/pts/4"
    void Stop();
    bool Serving() const;

    void SetVersion(int mux, std::string text);  // default "AMUX 20CD V2.10"
    std::string Version(int mux) const;
    void SetCameraState(int camera /*1..100*/, CameraState state);
    void SetCameraStateByte(int camera, uint8_t state);  // any byte, also invalid ones
    uint8_t CameraStateByte(int camera) const;
    void SetVideoLoss(int camera, bool lost);
    void SetVideoLossByte(int camera, uint8_t value);  // any byte, also invalid ones
    uint8_t VideoLossByte(int camera) const;
    void SetPresent(int mux, bool present);
    bool Present(int mux) const;
    // Sets the clock bytes (positions 6..13 of a TAD reply: year, century, month, day,
    // day of week, hour, minute, second). A running clock moves on from them when they
    // form a valid date; a frozen clock, or one set to an invalid date, stays as set.
    void SetClock(int mux, std::array<uint8_t, 8> bcd);
    void SetClockMode(int mux, ClockMode mode);
    std::array<uint8_t, 8> ClockBytes(int mux) const;

    void QueueFault(Fault fault, int count = 1);  // the next `count` frames answered
    void ClearFaults();                           // queued faults only

    std::vector<ReceivedFrame> Received() const;
    std::vector<std::vector<uint8_t>> Sent() const;  // replies as put on the line, faults included
    void ClearReceived();                            // and Sent()
    bool WaitForFrames(std::size_t count, std::chrono::milliseconds timeout) const;

    class Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace muxsim
