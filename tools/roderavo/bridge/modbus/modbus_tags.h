// The Modbus map as a SCADA imports it: one row per address, with its table, 0-based
// address, Modicon number, name, data type, access and what it means.
#pragma once

#include <string>
#include <vector>

namespace roderavo::tool::bridge {

struct ModbusTag {
    std::string table;  // discrete input, input register, holding register
    int address = 0;    // 0-based, as on the wire
    int modicon = 0;    // 10001, 30001, 40001 + address
    std::string name, type, access, description;
};

std::vector<ModbusTag> ModbusTags();

// A header row, then one row per address; fields with a comma or a quote are quoted.
std::string ModbusTagsCsv();

}  // namespace roderavo::tool::bridge
