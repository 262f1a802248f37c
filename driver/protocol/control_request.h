// The builders of control requests: the single frame of KEY, PTZ, CAA, IHK, TAD
// and JOY, and the frames of the multi-frame INHPAIR and PRESET writes.
#pragma once

#include <cstdint>

#include "base/status.h"
#include "protocol/frame.h"
#include "protocol/gate.h"

namespace roderavo {

// Ok built (size set), Refused: the write cannot be prepared.
DriverStatus BuildControlRequest(const Gate& gate, RequestBuffer& frame, uint16_t& size);

// Stage 1 parses, checks and keeps the six numbers and builds the first frame;
// stage 2 builds the second from the kept numbers.
DriverStatus BuildInhpairRequest(const Gate& gate, RequestBuffer& frame, uint16_t& size, int stage);

// Stage 1 parses, checks and keeps the two numbers and builds the first frame;
// stages 2 and 3 build the second key frame and the closing PTZ frame.
DriverStatus BuildPresetRequest(const Gate& gate, RequestBuffer& frame, uint16_t& size, int stage);

// The control frames a write of the gate takes: INHPAIR two, PRESET three, every
// other gate one; and the frame of stage 1..ControlFrameCount, which judges the
// gate's value as the write would.
int ControlFrameCount(const Gate& gate);
DriverStatus BuildControlStage(const Gate& gate, int stage, RequestBuffer& frame,
                               uint16_t& size);

}  // namespace roderavo
