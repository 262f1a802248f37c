// The Modbus face's map of the polled multiplexers (0-based addresses), rendered from
// the core's picture at each read: a Modbus read is answered from it, never from the
// line, and what depends on the time (the ages, staleness, the answering bits, the
// heartbeat) is as true at the read as at the poll's last cycle.
//
//   discrete inputs   camera n (1..100) in alarm at n-1, in video loss at 99+n;
//                     multiplexer m answering (ok) at 200+m
//   input registers   camera n's state at n-1 (0 fine, 1 alarm, 2 video loss,
//                     3 unknown); multiplexer m's state at 100+m (0 ok, 1 failing,
//                     2 demoted, 3 absent); the seconds since its last good read at
//                     105+m (65535 at most, and when never read); its clock at
//                     110+6m..115+6m (year, month, day, hour, minute, second); its
//                     version text at 140+16m..155+16m (two characters a register,
//                     high byte first, padded with 0); the seconds since the bridge
//                     started at 300 (wrapping at 65536)
//   holding registers a key code to multiplexer m at 1000+m; a PTZ code at 1010+m;
//                     a preset (two key codes) at 1020+2m and 1021+2m, written
//                     together; the value m at 1030 clears multiplexer m's alarms; 1 at
//                     1040+m sets its clock to now. Read back (function 3): the last
//                     value written, 0 before any.
//
// The camera values of a multiplexer that is not ok (failing, demoted, absent, not read
// yet), and its clock and version until they are read, are refused with "gateway
// target device failed to respond" (0x0B): never values that look fine. Its camera
// state registers read 3 (unknown). The state registers, the answering bits, the ages
// and the heartbeat are always readable. A read outside the map is refused with
// "illegal data address" (0x02).
#pragma once
#define RODERAVO_TREE_MODBUS_MAP_H 1  // the tree's own copy, as the layer probes ask

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "address/camera_range.h"
#include "bridge/core/command.h"
#include "bridge/core/picture.h"

namespace roderavo::tool::bridge {

inline constexpr uint8_t kModbusIllegalFunction = 0x01;
inline constexpr uint8_t kModbusIllegalAddress = 0x02;
inline constexpr uint8_t kModbusIllegalValue = 0x03;
inline constexpr uint8_t kModbusDeviceFailure = 0x04;
inline constexpr uint8_t kModbusBusy = 0x06;
inline constexpr uint8_t kModbusTargetFailed = 0x0B;

inline constexpr int kDiscreteInputs = 2 * kLastCamera + kMuxCount;      // 205
inline constexpr int kMuxStateRegister = kLastCamera;                    // 100
inline constexpr int kAgeRegister = kLastCamera + kMuxCount;             // 105
inline constexpr int kClockRegister = kLastCamera + 2 * kMuxCount;       // 110
inline constexpr int kVersionRegister = kClockRegister + 6 * kMuxCount;  // 140
inline constexpr int kVersionRegisters = 16;                             // 32 characters
inline constexpr int kMuxRegisters = kVersionRegister + kVersionRegisters * kMuxCount;  // 220
inline constexpr int kHeartbeatRegister = 300;

inline constexpr int kKeyRegister = 1000;
inline constexpr int kPtzRegister = 1010;
inline constexpr int kPresetRegister = 1020;  // two a multiplexer
inline constexpr int kClearAlarmsRegister = 1030;
inline constexpr int kSetClockRegister = 1040;
inline constexpr int kHoldingEnd = kSetClockRegister + kMuxCount;  // 1045

// What a read gets: its values (bits as 0 and 1), or the exception code.
struct ModbusAnswer {
    std::vector<uint16_t> values;
    uint8_t exception = 0;
};

// What a write of holding registers asks: the assignment for the write path
// (KEY1=53, PRESET0=(9,13), CAA=1, TAD1=now), or the exception: 02 when it does not
// hit exactly one target (one register, or a preset's pair), 03 for a clock value
// other than 1.
struct ModbusWrite {
    std::string assignment;
    uint8_t exception = 0;
};
ModbusWrite HoldingWrite(int address, const std::vector<uint16_t>& values);

// Whether a holding register is in the map (the gaps between the blocks are not).
bool IsHoldingRegister(int address);

// The holding registers as read back (function 3): the last value the multiplexer
// acknowledged for each, 0 before any.
class ModbusHolding {
  public:
    ModbusAnswer Read(int address, int count) const;
    void Written(int address, const std::vector<uint16_t>& values);

  private:
    std::array<uint16_t, kHoldingEnd - kKeyRegister> values_{};
};

// The exception code a write ends with: none when done, 03 a value refused before the
// line, 04 refused by the multiplexer, 06 the queue full, 0B not sent or no answer.
uint8_t ExceptionOf(const CommandResult& result);

// The map of one picture.
class ModbusMap {
  public:
    explicit ModbusMap(std::shared_ptr<const Picture> picture,
                       PollClock::time_point started = PollClock::now())
        : picture_(std::move(picture)), started_(started) {}

    ModbusAnswer DiscreteInputs(int address, int count, PollClock::time_point now) const;
    ModbusAnswer InputRegisters(int address, int count, PollClock::time_point now) const;

  private:
    // A value, or the exception that a read of it gets.
    struct Cell {
        uint16_t value = 0;
        uint8_t exception = 0;
    };
    static ModbusAnswer Read(const std::vector<Cell>& cells, int address, int count);
    std::vector<Cell> Discrete(PollClock::time_point now) const;
    std::vector<Cell> Registers(PollClock::time_point now) const;
    // A multiplexer's registers: its state, age, clock and version.
    void MuxRegisters(int mux, PollClock::time_point now, std::vector<Cell>& cells) const;

    std::shared_ptr<const Picture> picture_;
    PollClock::time_point started_;
};

}  // namespace roderavo::tool::bridge
