// The driver's only export: logs the call and runs the operation its function
// number selects.
#include "host/host_services.h"
#include "kor_func.h"

extern "C" KOR_EXPORT int32_t KOR_CALL KorMain(KorCall* call) {
    using namespace roderavo;
    if (call == nullptr) return kStatusCommFailure;
    const uint32_t number = call->FunctionNumber;
    err(kLogTrace, "VERODI: Entered KorMain(), with function %d", static_cast<int>(number - 1));
    if (number < 1 || number > kKorFuncSize) {
        err(kLogTrace, "VERODI: Exited KorMain() invalid function number");
        return kStatusCommFailure;
    }
    const KorOperation operation = KorFunc[number - 1];
    if (operation == nullptr) {
        err(kLogTrace, "VERODI: Exited KorMain() pointer in KorFunc[] is NULL");
        return kStatusCommFailure;
    }
    return operation(call);
}
