// The companion gates a status read fills by name: TAS (alarm report), SAC
// (camera alarm states) and SVC (camera video loss).
#pragma once

#include <roderavo/kor.h>

#include <cstdint>
#include <optional>
#include <string_view>

#include "short_text.h"

namespace roderavo {

using GateName = ShortText<15>;

// "TAS" and the multiplexer digit and camera number of an ALS address, as the
// host wrote them (positions 4-6, or 4-7 for camera 100).
GateName ReportGateName(std::string_view alsAddress);

// prefix ("SAC" or "SVC"), the first character of plcNum in decimal, then the
// camera: two digits, with a leading zero below 10; camera 100 keeps all three.
GateName CameraGateName(std::string_view prefix, int32_t plcNum, int64_t camera);

// The id of the host's gate with that name for the instance of the call.
std::optional<uint32_t> FindCompanionGate(const KorCall& call, const GateName& name);

}  // namespace roderavo
