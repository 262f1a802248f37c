#include "gate_value.h"

#include <cstring>

namespace roderavo {

bool ReadGateNumber(const GateParams& gate, uint16_t& number) {
    if (gate.Value == nullptr) return false;
    number = static_cast<const KorNumberValue*>(gate.Value)->Number;
    return true;
}

bool WriteGateNumber(const GateParams& gate, uint16_t number) {
    if (gate.Value == nullptr) return false;
    static_cast<KorNumberValue*>(gate.Value)->Number = number;
    return true;
}

bool WriteGateText(const GateParams& gate, std::string_view text) {
    if (gate.Value == nullptr) return false;
    auto* buffer = static_cast<char*>(gate.Value);
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\0';
    return true;
}

}  // namespace roderavo
