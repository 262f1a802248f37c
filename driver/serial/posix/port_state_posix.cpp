// The line state of a port on termios: raw 8-bit binary transfer, speed, data
// bits, parity (mark and space through CMSPAR), stop bits, parity checking, flow
// control and the DTR and RTS lines. What termios cannot do fails as a whole,
// changing nothing: one and a half stop bits, DTR handshake, RTS toggle, DSR
// flow control, data bits outside 5 to 8, unknown parity codes and speed 0.
// A pseudo-terminal keeps speed, stop bits and flow control but always reports
// 8 data bits without parity, and has no control lines; the lines last applied
// are then reported back.
#include <sys/ioctl.h>
#include <termios.h>

#include <array>

#include "serial/port.h"
#include "serial/posix/custom_baud.h"
#include "serial/posix/port_table.h"
#include "serial/posix/posix_result.h"

namespace roderavo {

namespace {

struct StandardRate {
    uint32_t bitsPerSecond;
    speed_t code;
};

// The fixed rates up to the largest the 16-bit speed field can ask for.
constexpr std::array<StandardRate, 17> kStandardRates{{{50, B50},
                                                       {75, B75},
                                                       {110, B110},
                                                       {134, B134},
                                                       {150, B150},
                                                       {200, B200},
                                                       {300, B300},
                                                       {600, B600},
                                                       {1200, B1200},
                                                       {1800, B1800},
                                                       {2400, B2400},
                                                       {4800, B4800},
                                                       {9600, B9600},
                                                       {19200, B19200},
                                                       {38400, B38400},
                                                       {57600, B57600},
                                                       {115200, B115200}}};

bool StandardCode(uint32_t bitsPerSecond, speed_t* code) {
    for (const StandardRate& rate : kStandardRates) {
        if (rate.bitsPerSecond == bitsPerSecond) {
            *code = rate.code;
            return true;
        }
    }
    return false;
}

uint32_t StandardRateOf(speed_t code) {
    for (const StandardRate& rate : kStandardRates)
        if (rate.code == code) return rate.bitsPerSecond;
    return 0;
}

bool CanApply(const PortLineState& state) {
    if (state.BaudRate == 0) return false;
    if (state.ByteSize < 5 || state.ByteSize > 8) return false;
    if (state.StopBits != kStopBitsOne && state.StopBits != kStopBitsTwo) return false;
    if (state.Parity > kParitySpace) return false;
#ifndef CMSPAR
    if (state.Parity == kParityMark || state.Parity == kParitySpace) return false;
#endif
    if (state.fDtrControl > kDtrControlEnable) return false;
    if (state.fRtsControl > kRtsControlHandshake) return false;
    return state.fOutxDsrFlow == 0 && state.fDsrSensitivity == 0;
}

tcflag_t SizeFlag(uint8_t byteSize) {
    switch (byteSize) {
        case 5:
            return CS5;
        case 6:
            return CS6;
        case 7:
            return CS7;
        default:
            return CS8;
    }
}

tcflag_t ParityFlags(uint8_t parity) {
    switch (parity) {
        case kParityOdd:
            return PARENB | PARODD;
        case kParityEven:
            return PARENB;
#ifdef CMSPAR
        case kParityMark:
            return PARENB | CMSPAR | PARODD;
        case kParitySpace:
            return PARENB | CMSPAR;
#endif
        default:
            return 0;
    }
}

// Whether the device holds what was asked, read back after the change: tcsetattr
// reports success when any part of a change took, and on a pseudo-terminal a
// repeated identical change fails although everything it can hold is in place.
// A pseudo-terminal always keeps 8 data bits without parity: those are not held
// there and not compared.
bool Holds(const termios& asked, const termios& got, bool pseudoTerminal) {
    tcflag_t control = CSTOPB | CRTSCTS | CREAD | CLOCAL;
    if (!pseudoTerminal) control |= CSIZE | PARENB | PARODD;
#ifdef CMSPAR
    if (!pseudoTerminal) control |= CMSPAR;
#endif
    constexpr tcflag_t kInput = IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                                IXOFF | IXANY | IGNPAR | INPCK;
    constexpr tcflag_t kLocal = ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN;
    return (asked.c_cflag & control) == (got.c_cflag & control) &&
           (asked.c_iflag & kInput) == (got.c_iflag & kInput) &&
           (asked.c_oflag & OPOST) == (got.c_oflag & OPOST) &&
           (asked.c_lflag & kLocal) == (got.c_lflag & kLocal) &&
           cfgetospeed(&asked) == cfgetospeed(&got) && cfgetispeed(&asked) == cfgetispeed(&got) &&
           asked.c_cc[VMIN] == got.c_cc[VMIN] && asked.c_cc[VTIME] == got.c_cc[VTIME] &&
           asked.c_cc[VSTART] == got.c_cc[VSTART] && asked.c_cc[VSTOP] == got.c_cc[VSTOP];
}

// Applies the line settings and reads them back: Ok when the device holds them.
// A device that does not hold them gives tcsetattr's error, or EINVAL.
SerialResult Apply(int fd, const termios& line, bool pseudoTerminal) {
    const int set = tcsetattr(fd, TCSANOW, &line) == 0 ? 0 : errno;
    termios got{};
    if (tcgetattr(fd, &got) != 0) return posix::SystemFailure();
    return Holds(line, got, pseudoTerminal) ? kSerialOk : posix::Refused(set != 0 ? set : EINVAL);
}

void SetControlLine(int fd, int line, bool on) {
    // Devices without control lines (pseudo-terminals) refuse; that is no failure.
    ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line);
}

}  // namespace

SerialResult PortGetState(PortHandle handle, PortLineState* state) {
    posix::OpenPort* port = nullptr;
    const SerialResult found = posix::FindLine(handle, port);
    if (!found) return found;
    if (state == nullptr) return posix::Refused(EINVAL);
    termios line{};
    if (tcgetattr(port->fd, &line) != 0) return posix::SystemFailure();

    PortLineState read = port->applied;
    uint32_t baud = 0;
    if (!posix::GetCustomBaud(port->fd, &baud)) baud = StandardRateOf(cfgetospeed(&line));
    read.BaudRate = baud;
    switch (line.c_cflag & CSIZE) {
        case CS5:
            read.ByteSize = 5;
            break;
        case CS6:
            read.ByteSize = 6;
            break;
        case CS7:
            read.ByteSize = 7;
            break;
        default:
            read.ByteSize = 8;
            break;
    }
    read.Parity = kParityNone;
    if ((line.c_cflag & PARENB) != 0) {
        const bool odd = (line.c_cflag & PARODD) != 0;
        read.Parity = odd ? kParityOdd : kParityEven;
#ifdef CMSPAR
        if ((line.c_cflag & CMSPAR) != 0) read.Parity = odd ? kParityMark : kParitySpace;
#endif
    }
    read.StopBits = (line.c_cflag & CSTOPB) != 0 ? kStopBitsTwo : kStopBitsOne;
    read.fParity = (line.c_iflag & INPCK) != 0 ? 1 : port->applied.fParity;
    read.fOutX = (line.c_iflag & IXON) != 0 ? 1 : 0;
    read.fInX = (line.c_iflag & IXOFF) != 0 ? 1 : 0;
    const bool handshake = (line.c_cflag & CRTSCTS) != 0;
    if (handshake) read.fRtsControl = kRtsControlHandshake;
    if (!handshake && read.fRtsControl == kRtsControlHandshake)
        read.fRtsControl = kRtsControlDisable;
    int lines = 0;
    if (ioctl(port->fd, TIOCMGET, &lines) == 0) {
        read.fDtrControl = (lines & TIOCM_DTR) != 0 ? kDtrControlEnable : kDtrControlDisable;
        if (!handshake)
            read.fRtsControl = (lines & TIOCM_RTS) != 0 ? kRtsControlEnable : kRtsControlDisable;
    }
    read.XonChar = line.c_cc[VSTART];
    read.XoffChar = line.c_cc[VSTOP];
    read.EofChar = line.c_cc[VEOF];
    *state = read;
    return kSerialOk;
}

SerialResult PortSetState(PortHandle handle, const PortLineState& state) {
    posix::OpenPort* port = nullptr;
    const SerialResult found = posix::FindLine(handle, port);
    if (!found) return found;
    if (!CanApply(state)) return posix::Refused(EINVAL);
    speed_t code = B0;
    const bool standard = StandardCode(state.BaudRate, &code);
    if (!standard && !posix::CanSetCustomBaud()) return posix::Refused(EINVAL);
    termios line{};
    if (tcgetattr(port->fd, &line) != 0) return posix::SystemFailure();
    const termios before = line;

    // Raw binary transfer: no input or output processing, no echo, no signals.
    line.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                           ICRNL | IXON | IXOFF | IXANY | IGNPAR | INPCK);
    line.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    line.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    line.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
#ifdef CMSPAR
    line.c_cflag &= ~static_cast<tcflag_t>(CMSPAR);
#endif
    line.c_cflag |= CREAD | CLOCAL | SizeFlag(state.ByteSize) | ParityFlags(state.Parity);
    if (state.StopBits == kStopBitsTwo) line.c_cflag |= CSTOPB;
    if (state.fParity != 0 && state.Parity != kParityNone) line.c_iflag |= INPCK;
    if (state.fOutX != 0) line.c_iflag |= IXON;
    if (state.fInX != 0) line.c_iflag |= IXOFF;
    const bool handshake = state.fRtsControl == kRtsControlHandshake || state.fOutxCtsFlow != 0;
    if (handshake) line.c_cflag |= CRTSCTS;
    line.c_cc[VSTART] = state.XonChar;
    line.c_cc[VSTOP] = state.XoffChar;
    // Reads wait through poll under the port's time-outs; read itself never blocks.
    line.c_cc[VMIN] = 0;
    line.c_cc[VTIME] = 0;
    if (standard && (cfsetispeed(&line, code) != 0 || cfsetospeed(&line, code) != 0))
        return posix::SystemFailure();
    SerialResult applied = Apply(port->fd, line, port->isPseudoTerminal);
    if (applied && !standard && !posix::SetCustomBaud(port->fd, state.BaudRate))
        applied = posix::SystemFailure();
    if (!applied) {
        tcsetattr(port->fd, TCSANOW, &before);  // as it was
        return applied;
    }

    SetControlLine(port->fd, TIOCM_DTR, state.fDtrControl == kDtrControlEnable);
    if (!handshake) SetControlLine(port->fd, TIOCM_RTS, state.fRtsControl == kRtsControlEnable);
    port->applied = state;
    // One character: a start bit, the data bits, a parity bit, the stop bits.
    const uint32_t bits = 1u + state.ByteSize + (state.Parity != kParityNone ? 1u : 0u) +
                          (state.StopBits == kStopBitsTwo ? 2u : 1u);
    port->characterNs = uint64_t{bits} * 1000000000u / state.BaudRate;
    return kSerialOk;
}

}  // namespace roderavo
