// ClosePort and Exit: close the instance's port and remove its host client.
#include "entry/kor_func.h"
#include "host/host_services.h"
#include "serial/comm.h"

namespace roderavo {

DriverStatus ClosePort(KorCall* call) {
    if (call == nullptr || call->Context == nullptr) return kStatusCommFailure;
    DriverContext& context = *call->Context;
    if (context.PortHandle != 0) {
        if (CommClose(context.PortHandle) != kCommOk) return kStatusCommFailure;
        context.PortHandle = 0;
        context.PortFlag = 1;
    }
    ZanRmClient(context.ClientId);
    return kStatusOk;
}

DriverStatus Exit(KorCall* call) {
    if (ClosePort(call) == kStatusCommFailure) {
        err(kLogEvent, "VERODI:Fail to close comm.");
        return kStatusCommFailure;
    }
    return kStatusOk;
}

}  // namespace roderavo
