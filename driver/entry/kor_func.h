// The operation table that KorMain dispatches through, and the operations in it.
#pragma once

#include <roderavo/kor.h>

#include <array>

#include "driver_status.h"

namespace roderavo {

using KorOperation = DriverStatus (*)(KorCall* call);

inline constexpr uint32_t kKorFuncSize = 17;

// Indexed by FunctionNumber - 1; an empty slot is nullptr.
extern const std::array<KorOperation, kKorFuncSize> KorFunc;

// Operations, by function number.
DriverStatus Init(KorCall* call);             // 1
DriverStatus WarmStart(KorCall* call);        // 2
DriverStatus SingleParse(KorCall* call);      // 3
DriverStatus BlockParse(KorCall* call);       // 4
DriverStatus SingleRead(KorCall* call);       // 5
DriverStatus BlockRead(KorCall* call);        // 6
DriverStatus SingleWrite(KorCall* call);      // 7
DriverStatus BlockWrite(KorCall* call);       // 10
DriverStatus Exit(KorCall* call);             // 11
DriverStatus ClosePort(KorCall* call);        // 12
DriverStatus OpenPort(KorCall* call);         // 13
DriverStatus GetInfo(KorCall* call);          // 14
DriverStatus SetPort(KorCall* call);          // 15
DriverStatus TagFormatDialog(KorCall* call);  // 16

}  // namespace roderavo
