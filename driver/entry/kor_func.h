// The operation table that KorMain dispatches through, and the operations in it.
#pragma once

#include <roderavo/kor.h>

#include <array>

#include "base/status.h"
#include "lifecycle/lifecycle_operations.h"

namespace roderavo {

using KorOperation = DriverStatus (*)(KorCall* call);

inline constexpr uint32_t kKorFuncSize = KOR_FUNC_LAST;

// Indexed by FunctionNumber - 1; an empty slot is nullptr.
extern const std::array<KorOperation, kKorFuncSize> KorFunc;

// The operations on gates and the dialog; the instance's own are in
// lifecycle_operations.h.
DriverStatus SingleParse(KorCall* call);      // 3
DriverStatus BlockParse(KorCall* call);       // 4
DriverStatus SingleRead(KorCall* call);       // 5
DriverStatus BlockRead(KorCall* call);        // 6
DriverStatus SingleWrite(KorCall* call);      // 7
DriverStatus BlockWrite(KorCall* call);       // 10
DriverStatus TagFormatDialog(KorCall* call);  // 16

}  // namespace roderavo
