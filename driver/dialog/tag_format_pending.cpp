// The Tag Format dialog, not built yet: no operation (2), no log line.
#include "entry/kor_func.h"

namespace roderavo {

DriverStatus TagFormatDialog(KorCall*) {
    return kStatusCommFailure;
}

}  // namespace roderavo
