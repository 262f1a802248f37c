// Gates: registered by the host under an instance number and an address text,
// found by the driver by that text, holding a number and a text.
#include <zanpro/zanpro.h>

#include "store.h"

namespace zanpro {

namespace {

bool ClientExists(Store& s, uint32_t clientId) {
    return clientId > 0 && clientId < s.clients.size() && s.clients[clientId].has_value();
}

std::optional<uint32_t> FindLocked(Store& s, uint32_t instance, std::string_view address) {
    const std::string key = FoldCase(address);
    for (const auto& [id, gate] : s.gates)
        if (gate.instance == instance && gate.key == key) return id;
    return std::nullopt;
}

Gate* GateFor(Store& s, uint32_t clientId, uint32_t gateId) {
    if (!ClientExists(s, clientId)) return nullptr;
    auto it = s.gates.find(gateId);
    return it == s.gates.end() ? nullptr : &it->second;
}

}  // namespace

uint32_t AddGate(uint32_t instance, std::string_view address) {
    auto& s = TheStore();
    std::lock_guard lock(s.mutex);
    if (auto id = FindLocked(s, instance, address)) return *id;
    const uint32_t id = s.nextGateId++;
    s.gates[id] = Gate{instance, std::string(address), FoldCase(address), {}, {}, 0};
    return id;
}

std::optional<uint32_t> FindGate(uint32_t instance, std::string_view address) {
    auto& s = TheStore();
    std::lock_guard lock(s.mutex);
    return FindLocked(s, instance, address);
}

bool RemoveGate(uint32_t gateId) {
    auto& s = TheStore();
    std::lock_guard lock(s.mutex);
    return s.gates.erase(gateId) == 1;
}

std::optional<double> GateValue(uint32_t gateId) {
    auto& s = TheStore();
    std::lock_guard lock(s.mutex);
    auto it = s.gates.find(gateId);
    return it == s.gates.end() ? std::nullopt : it->second.value;
}

std::optional<std::string> GateText(uint32_t gateId) {
    auto& s = TheStore();
    std::lock_guard lock(s.mutex);
    auto it = s.gates.find(gateId);
    return it == s.gates.end() ? std::nullopt : it->second.text;
}

uint64_t GateLookups() {
    auto& s = TheStore();
    std::lock_guard lock(s.mutex);
    return s.lookups;
}

uint32_t GateStores(uint32_t gateId) {
    auto& s = TheStore();
    std::lock_guard lock(s.mutex);
    auto it = s.gates.find(gateId);
    return it == s.gates.end() ? 0 : it->second.stores;
}

}  // namespace zanpro

using zanpro::TheStore;

// The driver passes the low 8 bits of its instance number; gates registered under
// a larger instance number are found by those bits too.
extern "C" int16_t ZanGetGateIdByAddressStr(uint32_t clientId, uint32_t instance,
                                            const char* address, uint32_t* gateId) {
    auto& s = TheStore();
    std::lock_guard lock(s.mutex);
    ++s.lookups;
    if (address == nullptr || gateId == nullptr) return 1;
    if (!zanpro::ClientExists(s, clientId)) return 2;
    const std::string key = zanpro::FoldCase(address);
    for (const auto& [id, gate] : s.gates) {
        if ((gate.instance & 0xFFu) == (instance & 0xFFu) && gate.key == key) {
            *gateId = id;
            return 0;
        }
    }
    return 3;
}

extern "C" int16_t ZanPutGateVal(uint32_t clientId, uint32_t gateId, int32_t /*mode*/, double value,
                                 int32_t /*a*/, int32_t /*b*/) {
    auto& s = TheStore();
    std::lock_guard lock(s.mutex);
    zanpro::Gate* gate = zanpro::GateFor(s, clientId, gateId);
    if (gate == nullptr) return 1;
    gate->value = value;
    ++gate->stores;
    return 0;
}

extern "C" int16_t ZanPutGateStr(uint32_t clientId, uint32_t gateId, int32_t /*mode*/,
                                 const char* text, int32_t /*a*/, int32_t /*b*/) {
    if (text == nullptr) return 1;
    auto& s = TheStore();
    std::lock_guard lock(s.mutex);
    zanpro::Gate* gate = zanpro::GateFor(s, clientId, gateId);
    if (gate == nullptr) return 1;
    gate->text = std::string(text);
    ++gate->stores;
    return 0;
}
