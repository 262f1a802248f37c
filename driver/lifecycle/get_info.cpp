// GetInfo: the driver's description for the host; works before Init.
#include "entry/kor_func.h"
#include "lifecycle/driver_info.h"

namespace roderavo {

DriverStatus GetInfo(KorCall* call) {
    if (call == nullptr || call->Params == nullptr) return kStatusCommFailure;
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
    return kStatusOk;
}

}  // namespace roderavo
