#include "entry/gate_records.h"

#include "address/address_fields.h"
#include "address/address_rules.h"
#include "address/address_text.h"
#include "lifecycle/context_port.h"

namespace roderavo {

static_assert(kValueKindNumber == KOR_VALUE_NUMBER && kValueKindText == KOR_VALUE_TEXT);
static_assert(kAccessCompanion == KOR_ACCESS_COMPANION &&
              kAccessWriteOnly == KOR_ACCESS_WRITE_ONLY &&
              kAccessReadOnly == KOR_ACCESS_READ_ONLY && kAccessReadWrite == KOR_ACCESS_READ_WRITE);
// What the host receives is the host's result codes.
static_assert(HostCode(DriverStatus::Ok) == KOR_OK &&
              HostCode(DriverStatus::Refused) == KOR_REFUSED &&
              HostCode(DriverStatus::CommFailure) == KOR_COMM_FAILURE &&
              HostCode(DriverStatus::NoOperation) == KOR_NO_OPERATION &&
              HostCode(DriverStatus::DialogRefused) == KOR_DIALOG_REFUSED);

Line LineOf(const KorCall& call) {
    Line line;
    if (call.Context != nullptr) {
        line.port = ContextPort(*call.Context);
        line.clientId = call.Context->ClientId;
    }
    // The host keys its gates by the low byte of the instance number.
    line.instance = static_cast<uint32_t>(call.InstanceNumber) & 0xFFu;
    return line;
}

Gate GateOf(const GateParams& params) {
    Gate gate;
    gate.hostAddress = params.Address != nullptr ? params.Address : "";
    gate.address = BoundedText(params.Address, kGateAddressLimit);
    gate.word = LeadingMnemonic(gate.address);
    gate.plcNum = params.plcNum;
    gate.accessClass = params.AccessClass;
    gate.valueKind = params.ValueKind;
    if (params.Value != nullptr) {
        gate.value.number = &static_cast<KorNumberValue*>(params.Value)->Number;
        gate.value.text = static_cast<char*>(params.Value);
    }
    return gate;
}

}  // namespace roderavo
