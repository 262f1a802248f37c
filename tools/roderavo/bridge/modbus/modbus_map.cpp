#include "bridge/modbus/modbus_map.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace roderavo::tool::bridge {

namespace {

inline constexpr uint16_t kNeverRead = 65535;

uint16_t CameraStateCode(CameraShown state) {
    switch (state) {
        case CameraShown::kFine:
            return 0;
        case CameraShown::kAlarm:
            return 1;
        case CameraShown::kVideoLoss:
            return 2;
        default:
            return 3;  // unknown, or not read
    }
}

uint16_t MuxStateCode(MuxShown state) {
    switch (state) {
        case MuxShown::kOk:
            return 0;
        case MuxShown::kFailing:
            return 1;
        case MuxShown::kDemoted:
            return 2;
        default:
            return 3;  // absent, not polled, or not tried yet
    }
}

// The clock's six fields from its text ("07.12.2026 22:37:19 hrs"); false when it
// does not read so.
bool ClockFields(const std::string& text, std::array<uint16_t, 6>& fields) {
    unsigned day = 0, month = 0, year = 0, hour = 0, minute = 0, second = 0;
    if (std::sscanf(text.c_str(), "%2u.%2u.%4u %2u:%2u:%2u", &day, &month, &year, &hour, &minute,
                    &second) != 6)
        return false;
    fields = {static_cast<uint16_t>(year),   static_cast<uint16_t>(month),
              static_cast<uint16_t>(day),    static_cast<uint16_t>(hour),
              static_cast<uint16_t>(minute), static_cast<uint16_t>(second)};
    return true;
}

std::size_t At(int address) {
    return static_cast<std::size_t>(address);
}

// Readable when told, else "the target did not respond".
uint8_t Unless(bool told) {
    return told ? 0 : kModbusTargetFailed;
}

}  // namespace

bool IsHoldingRegister(int address) {
    const auto in = [address](int first, int count) {
        return address >= first && address < first + count;
    };
    return in(kKeyRegister, kMuxCount) || in(kPtzRegister, kMuxCount) ||
           in(kPresetRegister, 2 * kMuxCount) || address == kClearAlarmsRegister ||
           in(kSetClockRegister, kMuxCount);
}

uint8_t ExceptionOf(const CommandResult& result) {
    switch (result.outcome) {
        case Outcome::kDone:
            return 0;
        case Outcome::kRefused:
            return kModbusIllegalValue;
        case Outcome::kRefusedByMux:
            return kModbusDeviceFailure;
        case Outcome::kBusy:
            return kModbusBusy;
        case Outcome::kNotSent:
        case Outcome::kLineFailed:
            break;
    }
    return kModbusTargetFailed;
}

std::vector<ModbusMap::Cell> ModbusMap::Discrete(PollClock::time_point now) const {
    std::vector<Cell> cells(kDiscreteInputs);
    for (int m = 0; m < kMuxCount; ++m) {
        const bool ok = picture_->MuxAt(m, now) == MuxShown::kOk;
        cells[At(2 * kLastCamera + m)].value = ok ? 1 : 0;
        for (int camera = FirstCamera(m); camera <= LastCamera(m); ++camera) {
            Cell& alarm = cells[At(camera - 1)];
            Cell& loss = cells[At(kLastCamera + camera - 1)];
            // What is read of a multiplexer that does not answer now is not true now.
            alarm.exception = loss.exception = ok ? 0 : kModbusTargetFailed;
            const CameraPicture shown = picture_->CameraAt(camera, now);
            alarm.value = shown.state == CameraShown::kAlarm ? 1 : 0;
            loss.value = shown.videoLoss ? 1 : 0;
        }
    }
    return cells;
}

void ModbusMap::MuxRegisters(int m, PollClock::time_point now, std::vector<Cell>& cells) const {
    const MuxShown state = picture_->MuxAt(m, now);
    const MuxPicture* mux = picture_->Mux(m);
    const bool ok = state == MuxShown::kOk;
    cells[At(kMuxStateRegister + m)] = {MuxStateCode(state)};
    uint16_t age = kNeverRead;
    if (mux && mux->lastGood) {
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now - *mux->lastGood);
        age = static_cast<uint16_t>(std::clamp<int64_t>(seconds.count(), 0, kNeverRead));
    }
    cells[At(kAgeRegister + m)] = {age};
    std::array<uint16_t, 6> clock{};
    const bool clockRead = ok && ClockFields(mux->clock, clock);
    for (int f = 0; f < 6; ++f)
        cells[At(kClockRegister + 6 * m + f)] = {clock[At(f)], Unless(clockRead)};
    const std::string version = ok ? mux->version : std::string();
    for (int r = 0; r < kVersionRegisters; ++r) {
        const auto at = At(2 * r);
        const auto high = at < version.size() ? static_cast<uint8_t>(version[at]) : 0;
        const auto low = at + 1 < version.size() ? static_cast<uint8_t>(version[at + 1]) : 0;
        cells[At(kVersionRegister + kVersionRegisters * m + r)] = {
            static_cast<uint16_t>(high << 8 | low), Unless(!version.empty())};
    }
}

std::vector<ModbusMap::Cell> ModbusMap::Registers(PollClock::time_point now) const {
    // The registers between the multiplexers' blocks and the heartbeat are none.
    std::vector<Cell> cells(kHeartbeatRegister + 1, Cell{0, kModbusIllegalAddress});
    for (int camera = 1; camera <= kLastCamera; ++camera)
        cells[At(camera - 1)] = {CameraStateCode(picture_->CameraAt(camera, now).state)};
    for (int m = 0; m < kMuxCount; ++m) MuxRegisters(m, now, cells);
    const auto up = std::chrono::duration_cast<std::chrono::seconds>(now - started_).count();
    cells[At(kHeartbeatRegister)] = {static_cast<uint16_t>(std::max<int64_t>(up, 0) % 65536)};
    return cells;
}

ModbusAnswer ModbusMap::Read(const std::vector<Cell>& cells, int address, int count) {
    ModbusAnswer answer;
    if (count < 1 || address < 0 || address + count > static_cast<int>(cells.size())) {
        answer.exception = kModbusIllegalAddress;
        return answer;
    }
    // An address outside the map is told before a value that cannot be told now.
    const auto first = cells.begin() + address;
    const auto last = first + count;
    for (const uint8_t exception : {kModbusIllegalAddress, kModbusTargetFailed})
        if (std::any_of(first, last, [&](const Cell& cell) { return cell.exception == exception; }))
            return {{}, exception};
    for (auto cell = first; cell != last; ++cell) answer.values.push_back(cell->value);
    return answer;
}

ModbusAnswer ModbusMap::DiscreteInputs(int address, int count, PollClock::time_point now) const {
    return Read(Discrete(now), address, count);
}

ModbusAnswer ModbusMap::InputRegisters(int address, int count, PollClock::time_point now) const {
    return Read(Registers(now), address, count);
}

ModbusAnswer ModbusHolding::Read(int address, int count) const {
    ModbusAnswer answer;
    for (int at = address; at < address + count; ++at) {
        if (!IsHoldingRegister(at)) return {{}, kModbusIllegalAddress};
        answer.values.push_back(values_[At(at - kKeyRegister)]);
    }
    if (answer.values.empty()) answer.exception = kModbusIllegalAddress;
    return answer;
}

void ModbusHolding::Written(int address, const std::vector<uint16_t>& values) {
    for (std::size_t i = 0; i < values.size(); ++i)
        if (IsHoldingRegister(address + static_cast<int>(i)))
            values_[At(address + static_cast<int>(i) - kKeyRegister)] = values[i];
}

ModbusWrite HoldingWrite(int address, const std::vector<uint16_t>& values) {
    ModbusWrite write;
    const auto count = static_cast<int>(values.size());
    const auto single = [&](int first) {
        return count == 1 && address >= first && address < first + kMuxCount;
    };
    const auto value = [&](std::size_t at) { return std::to_string(values[at]); };
    if (single(kKeyRegister)) {
        write.assignment = "KEY" + std::to_string(address - kKeyRegister) + "=" + value(0);
    } else if (single(kPtzRegister)) {
        write.assignment = "PTZ" + std::to_string(address - kPtzRegister) + "=" + value(0);
    } else if (count == 2 && address >= kPresetRegister &&
               address < kPresetRegister + 2 * kMuxCount && (address - kPresetRegister) % 2 == 0) {
        write.assignment = "PRESET" + std::to_string((address - kPresetRegister) / 2) + "=(" +
                           value(0) + "," + value(1) + ")";
    } else if (count == 1 && address == kClearAlarmsRegister) {
        write.assignment = "CAA=" + value(0);
    } else if (single(kSetClockRegister)) {
        if (values[0] == 1)
            write.assignment = "TAD" + std::to_string(address - kSetClockRegister) + "=now";
        else
            write.exception = kModbusIllegalValue;
    } else {
        write.exception = kModbusIllegalAddress;
    }
    return write;
}

}  // namespace roderavo::tool::bridge
