#include "companion_gate.h"

#include <zanpro/zanpro.h>

#include "address/mnemonics.h"
#include "address/text_slice.h"
#include "status_request.h"

namespace roderavo {

namespace {

constexpr std::string_view kReportPrefix = MnemonicName(CommandMnemonic::Tas);
constexpr std::size_t kReportFromPos = 4;
constexpr int64_t kThreeDigitCamera = 100;

}  // namespace

GateName ReportGateName(std::string_view alsAddress) {
    GateName name;
    name.Append(kReportPrefix);
    const std::size_t count = AddressCamera(alsAddress) == kThreeDigitCamera ? 4 : 3;
    if (alsAddress.size() >= kReportFromPos)
        name.Append(Slice(alsAddress, kReportFromPos - 1, count));
    return name;
}

GateName CameraGateName(std::string_view prefix, int32_t plcNum, int64_t camera) {
    GateName name;
    name.Append(prefix);
    GateName plc;
    plc.AppendDecimal(plcNum);
    name.Append(Slice(plc.View(), 0, 1));
    GateName number;
    number.AppendDecimal(camera);
    if (camera >= 0 && camera < 10) {
        name.Append("0");
        name.Append(number.View());
    } else if (camera == kThreeDigitCamera) {
        name.Append(number.View());
    } else {
        name.Append(Slice(number.View(), 0, 2));
    }
    return name;
}

std::optional<uint32_t> FindCompanionGate(const KorCall& call, const GateName& name) {
    uint32_t gateId = 0;
    const int16_t found = ZanGetGateIdByAddressStr(
        call.Context->ClientId, static_cast<uint32_t>(call.InstanceNumber) & 0xFFu, name.CStr(),
        &gateId);
    if (found != 0) return std::nullopt;
    return gateId;
}

}  // namespace roderavo
