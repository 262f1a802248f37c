// SingleParse: checks a gate's address when the host binds the gate, and records
// the multiplexer number and access class the host hands back with every read
// and write of that gate.
#include "address_grammar.h"
#include "entry/kor_func.h"
#include "folded_address.h"
#include "host/host_services.h"
#include "mnemonic_match.h"

namespace roderavo {

DriverStatus SingleParse(KorCall* call) {
    auto* params = static_cast<ParseParams*>(call->Params);
    if (params == nullptr) return kStatusRefused;

    params->plcNum = kPresetPlcNum;
    params->AccessClass = kPresetAccessClass;
    params->Reserved1 = kPresetReserved1;
    params->Reserved2 = kPresetReserved2;
    params->Reserved3 = kPresetReserved3;

    const FoldedAddress folded = FoldAddress(params->Address);
    const std::optional<CommandMnemonic> mnemonic = FindMnemonic(folded.View());
    if (!mnemonic) {
        err(kLogEvent, "VERODI: invalid chars in address");
        return kStatusRefused;
    }
    const std::optional<AddressForm> form =
        CheckAddressForm(*mnemonic, folded.View(), params->ValueKind);
    if (!form) return kStatusRefused;

    params->plcNum = form->plcNum;
    params->AccessClass = form->accessClass;
    err(kLogTrace, "VERODI: GAS %s pass the Parse function.", params->Address);
    return kStatusOk;
}

}  // namespace roderavo
