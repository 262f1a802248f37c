// Serial lines set up raw, the way the simulator and the tool's protocol tap hold
// them: a new pseudo-terminal, or a device set to a speed and framing. POSIX only.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace muxsim {

// The framing of a line: data bits 5..8, parity 0 none, 1 odd, 2 even, 3 mark,
// 4 space; two stop bits or one.
struct LineFraming {
    uint32_t baud = 9600;
    uint16_t dataBits = 8;
    uint16_t parity = 0;
    bool twoStopBits = false;
};

// Raw mode, receiver on, modem lines ignored, the framing and the speed (speeds
// outside the fixed list through Linux's termios2). False when the device refuses.
bool SetRawLine(int fd, const LineFraming& framing);

// A new pseudo-terminal: its slave side raw at `baud`, the master non-blocking,
// both closed on exec. False (nothing left open) when none can be made.
struct RawPty {
    int master = -1;
    int slave = -1;
    std::string path;  // "/dev/pts/4"
};
bool OpenRawPty(uint32_t baud, RawPty* pty);

// Writes all the bytes to a non-blocking descriptor, waiting up to `waitMs` each
// time it has no room; false when it fails, stays full that long, or (when given)
// `wakeFd` becomes readable meanwhile.
bool WriteAll(int fd, std::span<const uint8_t> bytes, int waitMs, int wakeFd = -1);

}  // namespace muxsim
