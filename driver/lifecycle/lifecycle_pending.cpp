// Instance lifecycle operations, not built yet: no operation (2), no log line.
#include "entry/kor_func.h"

namespace roderavo {

DriverStatus Init(KorCall*) { return kStatusCommFailure; }
DriverStatus WarmStart(KorCall*) { return kStatusCommFailure; }
DriverStatus Exit(KorCall*) { return kStatusCommFailure; }
DriverStatus ClosePort(KorCall*) { return kStatusCommFailure; }
DriverStatus OpenPort(KorCall*) { return kStatusCommFailure; }
DriverStatus GetInfo(KorCall*) { return kStatusCommFailure; }
DriverStatus SetPort(KorCall*) { return kStatusCommFailure; }

}  // namespace roderavo
