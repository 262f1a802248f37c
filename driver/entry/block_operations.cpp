// The block operations: the multiplexer has no block transfers, so all three are
// refused with one log line.
#include "entry/kor_func.h"
#include "host/host_services.h"

namespace roderavo {

DriverStatus BlockParse(KorCall* call) {
    const auto* block = static_cast<const BlockParseParams*>(call->Params);
    const char* tag = (block != nullptr && block->Address != nullptr) ? block->Address : "";
    err(kLogEvent, "VERODI: Block Parse failed Tag '%s', No block Support", tag);
    return DriverStatus::Refused;
}

DriverStatus BlockRead(KorCall* /*call*/) {
    err(kLogEvent, "VERODI: KOR does not support block read.");
    return DriverStatus::Refused;
}

DriverStatus BlockWrite(KorCall* /*call*/) {
    err(kLogEvent, "VERODI: Block Write not supported!");
    return DriverStatus::Refused;
}

}  // namespace roderavo
