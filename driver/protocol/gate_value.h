// What the read and write paths take from and give to the host's GateParams:
// the number record and the text buffer.
#pragma once

#include <roderavo/kor.h>

#include <cstdint>
#include <string_view>

#include "address/address_grammar.h"  // value kinds and access classes
#include "address_text.h"

namespace roderavo {

// The written number of a number gate (bytes 2-3 of its value record).
bool ReadGateNumber(const GateParams& gate, uint16_t& number);
// Stores a number into a number gate's value record.
bool WriteGateNumber(const GateParams& gate, uint16_t number);
// Copies a text with its terminating zero into a text gate's buffer.
bool WriteGateText(const GateParams& gate, std::string_view text);

}  // namespace roderavo
