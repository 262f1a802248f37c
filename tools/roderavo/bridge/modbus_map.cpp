#include "bridge/modbus_map.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "bridge/state_publisher.h"

namespace roderavo::tool::bridge {

namespace {

inline constexpr uint16_t kNeverRead = 65535;

uint16_t CameraStateCode(const std::string& state) {
    if (state == "fine") return 0;
    if (state == "alarm") return 1;
    if (state == "video-loss") return 2;
    return 3;  // unknown, or not understood
}

uint16_t MuxStateCode(const std::string& state) {
    if (state == "ok") return 0;
    if (state == "failing") return 1;
    if (state == "demoted") return 2;
    return 3;  // absent
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

}  // namespace

void ModbusMap::Update(const std::vector<MuxView>& muxes, PollClock::time_point now,
                       std::chrono::milliseconds staleAfter) {
    for (Cell& cell : discrete_) cell = {};
    for (Cell& cell : registers_) cell = {};
    readable_.fill(false);
    for (int m = 0; m < kMuxCount; ++m) {
        // Until a multiplexer is polled and read its values are not there.
        for (int i = 0; i < kCamerasPerMux; ++i) {
            const int camera = FirstCamera(m) + i;
            discrete_[static_cast<std::size_t>(camera - 1)].mux = m;
            discrete_[static_cast<std::size_t>(kLastCamera + camera - 1)].mux = m;
            registers_[static_cast<std::size_t>(camera - 1)] = {3, m};
        }
        registers_[static_cast<std::size_t>(kLastCamera + m)].mux = m;
        registers_[static_cast<std::size_t>(kLastCamera + kMuxCount + m)].value = kNeverRead;
        for (int f = 0; f < 6; ++f)
            registers_[static_cast<std::size_t>(kClockRegister + 6 * m + f)].mux = m;
        for (int r = 0; r < kVersionRegisters; ++r)
            registers_[static_cast<std::size_t>(kVersionRegister + kVersionRegisters * m + r)].mux =
                m;
    }
    for (const MuxView& view : muxes) {
        const int m = view.mux;
        if (m < 0 || m >= kMuxCount) continue;
        const std::string state = PublishedMuxState(view, ShownState(view, now, staleAfter));
        discrete_[static_cast<std::size_t>(2 * kLastCamera + m)].value = state == "ok" ? 1 : 0;
        if (view.lastGood) {
            const auto age = std::chrono::duration_cast<std::chrono::seconds>(now - *view.lastGood);
            registers_[static_cast<std::size_t>(kLastCamera + kMuxCount + m)].value =
                static_cast<uint16_t>(std::clamp<int64_t>(age.count(), 0, kNeverRead));
        }
        if (state.empty() || !view.lastGood) continue;  // not read yet
        registers_[static_cast<std::size_t>(kLastCamera + m)] = {MuxStateCode(state), -1};
        readable_[static_cast<std::size_t>(m)] = state != "demoted" && state != "absent";
        for (int i = 0; i < kCamerasPerMux; ++i) {
            const int camera = FirstCamera(m) + i;
            const std::string look = PublishedCameraState(view, state, i);
            const auto loss = view.videoLoss[static_cast<std::size_t>(i)];
            discrete_[static_cast<std::size_t>(camera - 1)].value = look == "alarm" ? 1 : 0;
            discrete_[static_cast<std::size_t>(kLastCamera + camera - 1)].value =
                look == "video-loss" || (look != "unknown" && loss.value_or(0) != 0) ? 1 : 0;
            registers_[static_cast<std::size_t>(camera - 1)].value = CameraStateCode(look);
        }
        std::array<uint16_t, 6> clock{};
        const bool clockRead = ClockFields(view.clock, clock);
        for (int f = 0; f < 6; ++f) {
            Cell& cell = registers_[static_cast<std::size_t>(kClockRegister + 6 * m + f)];
            cell.value = clock[static_cast<std::size_t>(f)];
            if (!clockRead) cell.mux = kMuxCount;  // never readable: not read yet
        }
        for (int r = 0; r < kVersionRegisters; ++r) {
            const auto at = static_cast<std::size_t>(2 * r);
            const auto high = at < view.version.size() ? static_cast<uint8_t>(view.version[at]) : 0;
            const auto low =
                at + 1 < view.version.size() ? static_cast<uint8_t>(view.version[at + 1]) : 0;
            Cell& cell =
                registers_[static_cast<std::size_t>(kVersionRegister + kVersionRegisters * m + r)];
            cell.value = static_cast<uint16_t>(high << 8 | low);
            if (view.version.empty()) cell.mux = kMuxCount;
        }
    }
}

ModbusAnswer ModbusMap::Read(const std::vector<Cell>& cells, int address, int count,
                             const std::array<bool, kMuxCount>& readable) {
    ModbusAnswer answer;
    if (count < 1 || address < 0 || address + count > static_cast<int>(cells.size())) {
        answer.exception = kModbusIllegalAddress;
        return answer;
    }
    for (int at = address; at < address + count; ++at) {
        const Cell& cell = cells[static_cast<std::size_t>(at)];
        if (cell.mux >= 0 &&
            (cell.mux >= kMuxCount || !readable[static_cast<std::size_t>(cell.mux)])) {
            answer.values.clear();
            answer.exception = kModbusTargetFailed;
            return answer;
        }
        answer.values.push_back(cell.value);
    }
    return answer;
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

ModbusAnswer ModbusMap::DiscreteInputs(int address, int count) const {
    return Read(discrete_, address, count, readable_);
}

ModbusAnswer ModbusMap::InputRegisters(int address, int count) const {
    return Read(registers_, address, count, readable_);
}

}  // namespace roderavo::tool::bridge
