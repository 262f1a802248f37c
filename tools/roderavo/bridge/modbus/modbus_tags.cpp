#include "bridge/modbus/modbus_tags.h"

#include <algorithm>

#include "address/camera_range.h"
#include "bridge/modbus/modbus_map.h"

namespace roderavo::tool::bridge {

namespace {

constexpr const char* kBit = "bit";
constexpr const char* kWord = "unsigned 16-bit, no scaling";

struct Table {
    const char* name;
    int modiconBase;
    const char* access;
};
constexpr Table kDiscrete{"discrete input", 10001, "read (2)"};
constexpr Table kInput{"input register", 30001, "read (4)"};
constexpr Table kHolding{"holding register", 40001, "write (6, 16), read back (3)"};

void Add(std::vector<ModbusTag>& tags, const Table& table, int address, std::string name,
         const char* type, std::string description) {
    tags.push_back({table.name, address, table.modiconBase + address, std::move(name), type,
                    table.access, std::move(description)});
}

void MuxRows(std::vector<ModbusTag>& tags, int m) {
    const std::string mux = "mux" + std::to_string(m);
    const std::string of = " of multiplexer " + std::to_string(m);
    Add(tags, kInput, kMuxStateRegister + m, mux + "_state", kWord,
        "state" + of + ": 0 ok, 1 failing, 2 demoted, 3 absent");
    Add(tags, kInput, kAgeRegister + m, mux + "_age", kWord,
        "seconds since the last good read" + of + " (65535 at most, and when never read)");
    const char* fields[] = {"year", "month", "day", "hour", "minute", "second"};
    for (int f = 0; f < 6; ++f)
        Add(tags, kInput, kClockRegister + 6 * m + f, mux + "_clock_" + fields[f], kWord,
            std::string("clock") + of + ": " + fields[f]);
    for (int r = 0; r < kVersionRegisters; ++r)
        Add(tags, kInput, kVersionRegister + kVersionRegisters * m + r,
            mux + "_version_" + std::to_string(r + 1), kWord,
            "version text" + of + ": characters " + std::to_string(2 * r + 1) + " and " +
                std::to_string(2 * r + 2) + ", high byte first, 0 after the end");
}

void HoldingRows(std::vector<ModbusTag>& tags) {
    for (int m = 0; m < kMuxCount; ++m) {
        const std::string mux = "mux" + std::to_string(m);
        const std::string to = " to multiplexer " + std::to_string(m);
        Add(tags, kHolding, kKeyRegister + m, mux + "_key", kWord, "a key code" + to + " (KEY)");
        Add(tags, kHolding, kPtzRegister + m, mux + "_ptz", kWord, "a PTZ code" + to + " (PTZ)");
        for (int k = 0; k < 2; ++k)
            Add(tags, kHolding, kPresetRegister + 2 * m + k,
                mux + "_preset_" + std::to_string(k + 1), kWord,
                "a preset" + to + ": key code " + std::to_string(k + 1) +
                    " of two, both written together by function 16 (PRESET)");
        Add(tags, kHolding, kSetClockRegister + m, mux + "_set_clock", kWord,
            "1 sets the clock of multiplexer " + std::to_string(m) + " to the bridge's time (TAD)");
    }
    Add(tags, kHolding, kClearAlarmsRegister, "clear_alarms", kWord,
        "the value m clears the alarms of multiplexer m (CAA)");
}

std::string Field(const std::string& text) {
    if (text.find_first_of(",\"") == std::string::npos) return text;
    std::string quoted = "\"";
    for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

}  // namespace

std::vector<ModbusTag> ModbusTags() {
    std::vector<ModbusTag> tags;
    for (int n = 1; n <= kLastCamera; ++n)
        Add(tags, kDiscrete, n - 1, "camera" + std::to_string(n) + "_alarm", kBit,
            "camera " + std::to_string(n) + " in alarm");
    for (int n = 1; n <= kLastCamera; ++n)
        Add(tags, kDiscrete, kLastCamera + n - 1, "camera" + std::to_string(n) + "_video_loss",
            kBit, "camera " + std::to_string(n) + " in video loss");
    for (int m = 0; m < kMuxCount; ++m)
        Add(tags, kDiscrete, 2 * kLastCamera + m, "mux" + std::to_string(m) + "_answering", kBit,
            "multiplexer " + std::to_string(m) + " answering (ok)");
    for (int n = 1; n <= kLastCamera; ++n)
        Add(tags, kInput, n - 1, "camera" + std::to_string(n) + "_state", kWord,
            "state of camera " + std::to_string(n) + ": 0 fine, 1 alarm, 2 video loss, 3 unknown");
    for (int m = 0; m < kMuxCount; ++m) MuxRows(tags, m);
    Add(tags, kInput, kHeartbeatRegister, "heartbeat", kWord,
        "seconds since the bridge started, wrapping at 65536");
    HoldingRows(tags);
    // In the order of the Modicon numbers: table by table, address by address.
    std::stable_sort(tags.begin(), tags.end(),
                     [](const ModbusTag& a, const ModbusTag& b) { return a.modicon < b.modicon; });
    return tags;
}

std::string ModbusTagsCsv() {
    std::string csv = "table,address,modicon,name,type,access,description\n";
    for (const ModbusTag& tag : ModbusTags())
        csv += tag.table + "," + std::to_string(tag.address) + "," + std::to_string(tag.modicon) +
               "," + Field(tag.name) + "," + Field(tag.type) + "," + Field(tag.access) + "," +
               Field(tag.description) + "\n";
    return csv;
}

}  // namespace roderavo::tool::bridge
