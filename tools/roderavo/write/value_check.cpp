#include "write/value_check.h"

#include <array>
#include <cstring>

#include "entry/gate_records.h"
#include "protocol/control_request.h"
#include "protocol/key_code_table.h"

namespace roderavo::tool {

bool DriverTakesValue(const Driver::Gate& bound, uint16_t number, const std::string& text) {
    BuildKeyCodeTable();  // the same table Init builds
    // The value buffer as a host gives it: a text, or a record whose bytes 2-3 hold
    // the number; the driver's gate sees both views of it.
    std::array<char, 256> buffer{};
    if (bound.valueKind == KOR_VALUE_TEXT) {
        std::strncpy(buffer.data(), text.c_str(), buffer.size() - 1);
    } else {
        KorNumberValue value{};
        value.Number = number;
        std::memcpy(buffer.data(), &value, sizeof value);
    }
    // The gate as the driver makes it of the host's record, and its first frame as
    // the driver's write builds it.
    GateParams params{};
    params.Address = bound.address.c_str();
    params.plcNum = bound.parse.plcNum;
    params.AccessClass = bound.parse.accessClass;
    params.ValueKind = bound.valueKind;
    params.Value = buffer.data();
    RequestBuffer frame{};
    uint16_t size = 0;
    return BuildControlStage(GateOf(params), 1, frame, size) == DriverStatus::Ok;
}

}  // namespace roderavo::tool
