// The block operations: the multiplexer has no block transfers, so all three are
// refused with one log line.
#include "host/host_services.h"
#include "kor_func.h"

namespace roderavo {

DriverStatus BlockParse(KorCall* call) {
    const auto* block = static_cast<const BlockParseParams*>(call->Params);
    const char* tag = (block != nullptr && block->Address != nullptr) ? block->Address : "";
    err(kLogEvent, "VERODI: Block Parse failed Tag '%s', No block Support", tag);
    return kStatusRefused;
}

DriverStatus BlockRead(KorCall* /*call*/) {
    err(kLogEvent, "VERODI: KOR does not support block read.");
    return kStatusRefused;
}

DriverStatus BlockWrite(KorCall* /*call*/) {
    err(kLogEvent, "VERODI: Block Write not supported!");
    return kStatusRefused;
}

}  // namespace roderavo
