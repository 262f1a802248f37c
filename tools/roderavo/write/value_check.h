// Whether the driver would put a written value into a frame, asked of the driver's
// own frame builders before anything goes on the line, so that a batch of writes is
// refused whole when one value is wrong.
#pragma once

#include <cstdint>
#include <string>

#include "line/driver.h"

namespace roderavo::tool {

// True when the driver's builders take the value for the gate (a gate SingleParse
// accepted; `number` for a number gate, `text` for a text gate).
bool DriverTakesValue(const Driver::Gate& gate, uint16_t number, const std::string& text);

}  // namespace roderavo::tool
