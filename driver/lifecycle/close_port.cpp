// ClosePort and Exit: close the instance's port and remove its host client.
#include "host/host_services.h"
#include "lifecycle/context_port.h"
#include "lifecycle/lifecycle_operations.h"

namespace roderavo {

namespace {

// Closes the instance's port, if one is open, and removes its host client; a
// port that does not close keeps the client. No context: a failure without a
// system error.
SerialResult CloseInstance(KorCall* call) {
    if (call == nullptr || call->Context == nullptr) return Failed(SerialStatus::CallFailed);
    DriverContext& context = *call->Context;
    if (ContextPort(context) != 0) {
        const SerialResult closed = CommClose(ContextPort(context));
        if (!closed) return closed;
        SetContextPort(context, 0);
        context.PortFlag = 1;
    }
    ZanRmClient(context.ClientId);
    return kSerialOk;
}

}  // namespace

DriverStatus ClosePort(KorCall* call) {
    const SerialResult closed = CloseInstance(call);
    return closed ? DriverStatus::Ok : CommFailed(closed);
}

DriverStatus Exit(KorCall* call) {
    const SerialResult closed = CloseInstance(call);
    if (!closed) {
        err(kLogEvent, "VERODI:Fail to close comm.");
        return CommFailed(closed);
    }
    return DriverStatus::Ok;
}

}  // namespace roderavo
