// OpenPort and SetPort: reopen the instance's port, or reconfigure and reopen it.
#include "lifecycle/context_port.h"
#include "lifecycle/lifecycle_operations.h"
#include "lifecycle/port_name.h"

namespace roderavo {

SerialResult OpenConfiguredPort(const PortSettings& settings, PortHandle& handle) {
    handle = 0;
    const SerialResult result =
        CommOpen(settings.PortName, settings.BaudRate, settings.DataBits, settings.StopBits,
                 settings.Parity, settings.ControlFlags, &handle);
    if (!result) handle = 0;
    return result;
}

DriverStatus OpenPort(KorCall* call) {
    if (call == nullptr || call->Context == nullptr) return DriverStatus::CommFailure;
    DriverContext& context = *call->Context;
    PortHandle handle = 0;
    const SerialResult opened = OpenConfiguredPort(context.Settings, handle);
    if (!opened) return CommFailed(opened);
    context.PortFlag = 1;
    SetContextPort(context, handle);
    return DriverStatus::Ok;
}

DriverStatus SetPort(KorCall* call) {
    if (call == nullptr || call->Context == nullptr || call->Params == nullptr)
        return DriverStatus::CommFailure;
    DriverContext& context = *call->Context;
    const SetPortParams& params = *static_cast<const SetPortParams*>(call->Params);

    if (params.PollInterval != 0) context.PollInterval = params.PollInterval;
    if (!SamePortName(params.PortName, context.Settings.PortName) && ContextPort(context) != 0)
        ClosePort(call);
    CopyPortName(context.Settings.PortName, params.PortName);
    context.Settings.BaudRate = params.BaudRate;
    context.Settings.DataBits = params.DataBits;
    context.Settings.StopBits = params.StopBits;
    context.Settings.Parity = params.Parity;

    PortHandle handle = 0;
    const SerialResult opened = OpenConfiguredPort(context.Settings, handle);
    if (!opened) return CommFailed(opened);
    SetContextPort(context, handle);
    return DriverStatus::Ok;
}

}  // namespace roderavo
