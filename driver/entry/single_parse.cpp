// SingleParse: checks a gate's address when the host binds the gate, and records
// the multiplexer number and access class the host hands back with every read
// and write of that gate.
#include "address/address_grammar.h"
#include "address/folded_address.h"
#include "address/mnemonic_match.h"
#include "entry/kor_func.h"
#include "host/host_services.h"

namespace roderavo {

DriverStatus SingleParse(KorCall* call) {
    auto* params = static_cast<ParseParams*>(call->Params);
    if (params == nullptr) return DriverStatus::Refused;

    params->plcNum = kParseDefaultPlcNum;
    params->AccessClass = kParseDefaultAccessClass;
    params->Reserved1 = kParseDefaultReserved1;
    params->Reserved2 = kParseDefaultReserved2;
    params->Reserved3 = kParseDefaultReserved3;

    const FoldedAddress folded = FoldAddress(params->Address);
    const std::optional<CommandMnemonic> mnemonic = FindMnemonic(folded.View());
    if (!mnemonic) {
        err(kLogEvent, "VERODI: invalid chars in address");
        return DriverStatus::Refused;
    }
    const std::optional<AddressForm> form =
        CheckAddressForm(*mnemonic, folded.View(), params->ValueKind);
    if (!form) return DriverStatus::Refused;

    params->plcNum = form->plcNum;
    params->AccessClass = form->accessClass;
    err(kLogTrace, "VERODI: GAS %s pass the Parse function.", params->Address);
    return DriverStatus::Ok;
}

}  // namespace roderavo
