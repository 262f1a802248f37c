#include "protocol/companion_gate.h"

#include "host/host_services.h"

namespace roderavo {

std::optional<uint32_t> FindCompanionGate(const Line& line, const GateName& name) {
    uint32_t gateId = 0;
    if (ZanGetGateIdByAddressStr(line.clientId, line.instance, name.CStr(), &gateId) != 0)
        return std::nullopt;
    return gateId;
}

}  // namespace roderavo
