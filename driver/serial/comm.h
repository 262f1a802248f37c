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

SerialStatus CommOpen(const char* portName, uint16_t baudRate, uint16_t dataBits, uint16_t stopBits,
                      uint16_t parity, uint16_t controlFlags, PortHandle* handle);
SerialStatus CommClose(PortHandle handle);
// Sets the read time-out to value x 10 ms; returns the previous one / 10, or 0.
uint32_t CommSetReadTimeout(PortHandle handle, uint32_t value);
SerialStatus CommFlush(PortHandle handle);
SerialStatus CommWrite(PortHandle handle, std::span<const uint8_t> buffer, uint32_t* written);
// Reads exactly length bytes into buffer (length <= buffer.size()).
SerialStatus CommRead(PortHandle handle, std::span<uint8_t> buffer, uint16_t length,
                      uint16_t* count);

// Discards pending input, then writes the whole buffer: Ok, else CommFailure.
DriverStatus CommSend(PortHandle handle, std::span<const uint8_t> buffer);
// True when exactly length bytes arrived into buffer.
bool CommReceive(PortHandle handle, std::span<uint8_t> buffer, uint16_t length);

}  // namespace roderavo
