// OpenPort and SetPort: reopen the instance's port, or reconfigure and reopen it.
#include "entry/kor_func.h"
#include "lifecycle/port_name.h"
#include "serial/comm.h"

namespace roderavo {

DriverStatus OpenPort(KorCall* call) {
    if (call == nullptr || call->Context == nullptr) return kStatusCommFailure;
    DriverContext& context = *call->Context;
    const PortHandle handle = CommOpenSettings(context.Settings);
    if (handle == 0) return kStatusCommFailure;
    context.PortFlag = 1;
    context.PortHandle = handle;
    return kStatusOk;
}

DriverStatus SetPort(KorCall* call) {
    if (call == nullptr || call->Context == nullptr || call->Params == nullptr)
        return kStatusCommFailure;
    DriverContext& context = *call->Context;
    const SetPortParams& params = *static_cast<const SetPortParams*>(call->Params);

    if (params.PollInterval != 0) context.PollInterval = params.PollInterval;
    if (!SamePortName(params.PortName, context.Settings.PortName) && context.PortHandle != 0)
        ClosePort(call);
    CopyPortName(context.Settings.PortName, params.PortName);
    context.Settings.BaudRate = params.BaudRate;
    context.Settings.DataBits = params.DataBits;
    context.Settings.StopBits = params.StopBits;
    context.Settings.Parity = params.Parity;

    const PortHandle handle = CommOpenSettings(context.Settings);
    if (handle == 0) return kStatusCommFailure;
    context.PortHandle = handle;
    return kStatusOk;
}

}  // namespace roderavo
