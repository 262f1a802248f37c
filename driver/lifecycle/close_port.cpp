// ClosePort and Exit: close the instance's port and remove its host client.
#include "host/host_services.h"
#include "lifecycle/context_port.h"
#include "lifecycle/lifecycle_operations.h"

namespace roderavo {

DriverStatus ClosePort(KorCall* call) {
    if (call == nullptr || call->Context == nullptr) return DriverStatus::CommFailure;
    DriverContext& context = *call->Context;
    if (ContextPort(context) != 0) {
        if (CommClose(ContextPort(context)) != SerialStatus::Ok) return DriverStatus::CommFailure;
        SetContextPort(context, 0);
        context.PortFlag = 1;
    }
    ZanRmClient(context.ClientId);
    return DriverStatus::Ok;
}

DriverStatus Exit(KorCall* call) {
    if (ClosePort(call) == DriverStatus::CommFailure) {
        err(kLogEvent, "VERODI:Fail to close comm.");
        return DriverStatus::CommFailure;
    }
    return DriverStatus::Ok;
}

}  // namespace roderavo
