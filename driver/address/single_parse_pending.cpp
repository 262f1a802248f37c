#include "entry/kor_func.h"

namespace roderavo {

DriverStatus SingleParse(KorCall*) { return kStatusCommFailure; }

}  // namespace roderavo
