// WarmStart: discards the pending input of the instance's port.
#include "entry/kor_func.h"
#include "host/host_services.h"
#include "serial/comm.h"

namespace roderavo {

DriverStatus WarmStart(KorCall* call) {
    if (call == nullptr || call->Context == nullptr) return kStatusCommFailure;
    const PortHandle handle = call->Context->PortHandle;
    if (handle != 0 && CommFlush(handle) != kCommOk) {
        err(kLogEvent, "VERODI: Fail to flush comm port.");
        return kStatusCommFailure;
    }
    err(kLogEvent, "VERODI: Warm Start.");
    return kStatusOk;
}

}  // namespace roderavo
