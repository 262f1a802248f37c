// The serial port layer: open, configure, flush, write, read and close the port
// of a driver instance. Portable; the platform calls sit behind port.h.
#pragma once

#define RODERAVO_TREE_COMM_H 1  // the tree's own copy, as the layer probes ask

#include <cstdint>
#include <span>
#include <string_view>

#include "base/status.h"

namespace roderavo {

// An open port as the platform backend names it; zero: no port.
using PortHandle = std::uintptr_t;

// The null device: a port that takes every write and never answers. Its name is
// matched without regard to case where the platform opens devices (Windows opens
// "nul" as the null device too), but only this exact spelling skips the line
// configuration: any other spelling is configured like a line, which the null
// device refuses, so the open fails as it does on Windows.
inline constexpr std::string_view kNullDeviceName = "NUL";

// ControlFlags that Init stores: DTR off, RTS off.
inline constexpr uint16_t kDefaultControlFlags = 8;

// Every call but CommSetReadTimeout gives back a SerialResult: its status is
// the layer's code (0, 1, 2, 4, 5 or 7 as below), and a failure carries the
// system's error of the port call that failed.

// 0; 1 not opened or time-outs not set; 4 state not readable; 5 state refused.
SerialResult CommOpen(const char* portName, uint16_t baudRate, uint16_t dataBits, uint16_t stopBits,
                      uint16_t parity, uint16_t controlFlags, PortHandle* handle);
// 0, or 7 when the close fails.
SerialResult CommClose(PortHandle handle);
// Sets the read time-out to value x 10 ms; returns the previous one / 10, or 0.
uint32_t CommSetReadTimeout(PortHandle handle, uint32_t value);
// 0, or 1 (FlushFailed) when the stale input could not be discarded.
SerialResult CommFlush(PortHandle handle);
// 0 all written, 2 fewer written, 7 the write failed (the count is then not stored).
SerialResult CommWrite(PortHandle handle, std::span<const uint8_t> buffer, uint32_t* written);
// Reads exactly length bytes into buffer (length <= buffer.size()): 0, else 7.
SerialResult CommRead(PortHandle handle, std::span<uint8_t> buffer, uint16_t length,
                      uint16_t* count);

// Discards pending input, then writes the whole buffer: Ok, or the failure of the
// flush (logged) or of the write.
SerialResult CommSend(PortHandle handle, std::span<const uint8_t> buffer);
// Ok when exactly length bytes arrived into buffer.
SerialResult CommReceive(PortHandle handle, std::span<uint8_t> buffer, uint16_t length);

// What the host sees of a failure on the line: result 2, and the failure's
// system error left as the thread's last error (errno, GetLastError), where a
// host looks right after KorMain returns. Call it after the failure's last log
// line: the host's log function may change the last error.
DriverStatus CommFailed(const SerialResult& failure);
// Sets the thread's last error: KorMain clears it (0) as each call begins.
void CommSetLastError(int32_t systemError);

}  // namespace roderavo
