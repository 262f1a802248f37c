// The companion gates a status read fills by name: TAS (alarm report), SAC
// (camera alarm states) and SVC (camera video loss).
#pragma once

#include <cstdint>
#include <optional>

#include "address/address_fields.h"
#include "protocol/gate.h"

namespace roderavo {

// The id of the host's gate with that address for the line's instance.
std::optional<uint32_t> FindCompanionGate(const Line& line, const GateName& name);

}  // namespace roderavo
