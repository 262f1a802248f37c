// GetInfo: the driver's description for the host; works before Init.
#include "lifecycle/driver_info.h"
#include "lifecycle/lifecycle_operations.h"

namespace roderavo {

DriverStatus GetInfo(KorCall* call) {
    if (call == nullptr || call->Params == nullptr) return DriverStatus::CommFailure;
    auto* info = static_cast<DriverInfo*>(call->Params);
    info->Word1 = kInfoWord1;
    info->DriverName = kDriverName;
    info->InfoBanner = kInfoBanner.data();
    info->Word4 = kInfoWord4;
    info->Word5 = kInfoWord5;
    info->BaudRate = kInfoBaudRate;
    info->DataBits = kInfoDataBits;
    info->StopBits = kInfoStopBits;
    info->Parity = kInfoParity;
    info->Word8 = kInfoWord8;
    return DriverStatus::Ok;
}

}  // namespace roderavo
