// Init: registers the instance's host client and opens its port.
#include "host/host_services.h"
#include "lifecycle/client_name.h"
#include "lifecycle/context_port.h"
#include "lifecycle/lifecycle_operations.h"
#include "lifecycle/port_name.h"
#include "protocol/key_code_table.h"

namespace roderavo {

namespace {
inline constexpr int32_t kLeastPollInterval = 100;
}

DriverStatus Init(KorCall* call) {
    if (call == nullptr || call->Context == nullptr || call->Params == nullptr)
        return DriverStatus::CommFailure;
    DriverContext& context = *call->Context;
    const InitParams& params = *static_cast<const InitParams*>(call->Params);

    BuildKeyCodeTable();
    const ClientName name = FormatClientName(call->InstanceNumber);
    if (ZanMkClient(name.data(), kClientKind, kClientFlags, &context.ClientId) != 0)
        return DriverStatus::Refused;

    context.PortFlag = params.OpenRequested;
    if (params.OpenRequested == 0) return DriverStatus::Ok;

    PortSettings settings{};
    CopyPortName(settings.PortName, params.PortName);
    settings.BaudRate = params.BaudRate;
    settings.DataBits = params.DataBits;
    settings.StopBits = params.StopBits;
    settings.Parity = params.Parity;
    settings.ControlFlags = kDefaultControlFlags;

    PortHandle handle = 0;
    const SerialResult opened = OpenConfiguredPort(settings, handle);
    if (!opened) {
        err(kLogEvent, "VERODI: Fail to open COMM port %s",
            PrintablePortName(settings.PortName).data());
        return CommFailed(opened);
    }
    SetContextPort(context, handle);
    context.PortFlag = 0;
    // A poll interval of 0 or below would mean a read that waits forever (or for
    // weeks): the port then keeps the 1000 ms of its fresh open.
    if (params.PollInterval > 0)
        CommSetReadTimeout(handle, static_cast<uint32_t>(params.PollInterval));
    context.Settings = settings;
    context.PollInterval =
        params.PollInterval < kLeastPollInterval ? kLeastPollInterval : params.PollInterval;
    err(kLogEvent, "VERODI: ZUR Driver loaded successfully");
    return DriverStatus::Ok;
}

}  // namespace roderavo
