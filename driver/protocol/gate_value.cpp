#include "protocol/gate_value.h"

#include <cstring>

namespace roderavo {

bool ReadGateNumber(const Gate& gate, uint16_t& number) {
    if (gate.value.number == nullptr) return false;
    number = *gate.value.number;
    return true;
}

bool WriteGateNumber(const Gate& gate, uint16_t number) {
    if (gate.value.number == nullptr) return false;
    *gate.value.number = number;
    return true;
}

bool WriteGateText(const Gate& gate, std::string_view text) {
    if (gate.value.text == nullptr) return false;
    std::memcpy(gate.value.text, text.data(), text.size());
    gate.value.text[text.size()] = '\0';
    return true;
}

}  // namespace roderavo
