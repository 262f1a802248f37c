// The operations of a driver instance's life, by function number, and the
// driver's description.
#pragma once

#include <roderavo/kor.h>

#include "base/status.h"

namespace roderavo {

DriverStatus Init(KorCall* call);       // 1
DriverStatus WarmStart(KorCall* call);  // 2
DriverStatus Exit(KorCall* call);       // 11
DriverStatus ClosePort(KorCall* call);  // 12
DriverStatus OpenPort(KorCall* call);   // 13
DriverStatus GetInfo(KorCall* call);    // 14
DriverStatus SetPort(KorCall* call);    // 15

}  // namespace roderavo
