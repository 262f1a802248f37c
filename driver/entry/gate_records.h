// The narrow values the read and write paths take, made out of the host's records.
#pragma once

#include <roderavo/kor.h>

#include "protocol/gate.h"

namespace roderavo {

// The line of the call's instance (no port when the call has no context).
Line LineOf(const KorCall& call);

// The gate of a read or write: its address (looked at up to the paths' limit), the
// command word it starts with, the words the parse recorded, and its value.
Gate GateOf(const GateParams& params);

}  // namespace roderavo
