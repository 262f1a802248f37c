#include "write/value_check.h"

#include <array>
#include <cstring>

#include "address/address_fields.h"
#include "address/address_text.h"
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
    Gate gate;
    gate.hostAddress = bound.address.c_str();
    gate.address = BoundedText(bound.address.c_str(), kGateAddressLimit);
    gate.word = LeadingMnemonic(gate.address);
    gate.plcNum = bound.parse.plcNum;
    gate.accessClass = bound.parse.accessClass;
    gate.valueKind = bound.valueKind;
    gate.value.text = buffer.data();
    gate.value.number =
        reinterpret_cast<uint16_t*>(buffer.data() + offsetof(KorNumberValue, Number));
    RequestBuffer frame{};
    uint16_t size = 0;
    DriverStatus status = DriverStatus::Refused;
    if (gate.word == CommandMnemonic::Inhpair)
        status = BuildInhpairRequest(gate, frame, size, 1);
    else if (gate.word == CommandMnemonic::Preset)
        status = BuildPresetRequest(gate, frame, size, 1);
    else
        status = BuildControlRequest(gate, frame, size);
    return status == DriverStatus::Ok;
}

}  // namespace roderavo::tool
