// The serial port layer: open, configure, flush, write, read and close the port
// of a driver instance. Portable; the platform calls sit behind port.h.
#pragma once

#include <roderavo/kor.h>

#include <cstdint>
#include <span>

#include "entry/driver_status.h"

namespace roderavo {

using PortHandle = KorPortHandle;  // zero: no port

// Result codes of this layer (they never reach the host).
inline constexpr int32_t kCommOk = 0;
inline constexpr int32_t kCommOpenFailed = 1;    // not opened, or time-outs not set
inline constexpr int32_t kCommShortWrite = 2;    // fewer bytes written than asked
inline constexpr int32_t kCommNoState = 4;       // current state not readable
inline constexpr int32_t kCommStateRefused = 5;  // new state not applied
inline constexpr int32_t kCommCallFailed = 7;    // close/read/write failed, or no byte read

// ControlFlags that Init stores: DTR off, RTS off.
inline constexpr uint16_t kDefaultControlFlags = 8;

int32_t CommOpen(const char* portName, uint16_t baudRate, uint16_t dataBits, uint16_t stopBits,
                 uint16_t parity, uint16_t controlFlags, PortHandle* handle);
int32_t CommClose(PortHandle handle);
// Sets the read time-out to value x 10 ms; returns the previous one / 10, or 0.
uint32_t CommSetReadTimeout(PortHandle handle, uint32_t value);
int32_t CommFlush(PortHandle handle);
int32_t CommWrite(PortHandle handle, std::span<const uint8_t> buffer, uint32_t* written);
// Reads exactly length bytes into buffer (length <= buffer.size()).
int32_t CommRead(PortHandle handle, std::span<uint8_t> buffer, uint16_t length, uint16_t* count);

// The handle of the opened, configured port, or zero.
PortHandle CommOpenSettings(const PortSettings& settings);
// Discards pending input, then writes the whole buffer: 0, else 2.
DriverStatus CommSend(PortHandle handle, std::span<const uint8_t> buffer);
// True when exactly length bytes arrived into buffer.
bool CommReceive(PortHandle handle, std::span<uint8_t> buffer, uint16_t length);

}  // namespace roderavo
