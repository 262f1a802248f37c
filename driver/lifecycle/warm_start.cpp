// WarmStart: discards the pending input of the instance's port.
#include "host/host_services.h"
#include "lifecycle/context_port.h"
#include "lifecycle/lifecycle_operations.h"

namespace roderavo {

DriverStatus WarmStart(KorCall* call) {
    if (call == nullptr || call->Context == nullptr) return DriverStatus::CommFailure;
    const PortHandle handle = ContextPort(*call->Context);
    const SerialResult flushed = handle != 0 ? CommFlush(handle) : kSerialOk;
    if (!flushed) {
        err(kLogEvent, "VERODI: Fail to flush comm port.");
        return CommFailed(flushed);
    }
    err(kLogEvent, "VERODI: Warm Start.");
    return DriverStatus::Ok;
}

}  // namespace roderavo
