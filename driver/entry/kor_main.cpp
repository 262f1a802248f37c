// The driver's only export: logs the call and runs the operation its function
// number selects.
#include "entry/kor_func.h"
#include "host/host_services.h"
#include "serial/comm.h"

extern "C" KOR_EXPORT int32_t KOR_CALL KorMain(KorCall* call) {
    using namespace roderavo;
    if (call == nullptr) return HostCode(DriverStatus::NoOperation);
    // A failure on the line leaves its system error here again (CommFailed).
    CommSetLastError(0);
    const uint32_t number = call->FunctionNumber;
    err(kLogTrace, "VERODI: Entered KorMain(), with function %d", static_cast<int>(number - 1));
    if (number < 1 || number > kKorFuncSize) {
        err(kLogTrace, "VERODI: Exited KorMain() invalid function number");
        return HostCode(DriverStatus::NoOperation);
    }
    const KorOperation operation = KorFunc[number - 1];
    if (operation == nullptr) {
        err(kLogTrace, "VERODI: Exited KorMain() pointer in KorFunc[] is NULL");
        return HostCode(DriverStatus::NoOperation);
    }
    return HostCode(operation(call));
}
