// Gates: registered by the host under an instance number and an address text,
// found by the driver by that text (through a hash of the folded text), holding a
// number and a text.
#include <zanpro/zanpro.h>

#include "store.h"

namespace zanpro {

namespace {

bool ClientExists(Store& s, uint32_t clientId) {
    return clientId > 0 && clientId < s.clients.size() && s.clients[clientId].has_value();
}

uint8_t Low8(uint32_t instance) {
    return static_cast<uint8_t>(instance & 0xFFu);
}

// The ids of the gates whose instance number has the same low 8 bits and whose
// address matches in any case, ascending; nullptr when there are none.
const std::vector<uint32_t>* Candidates(Store& s, uint32_t instance, std::string_view address) {
    const auto it = s.index.find(GateProbe{Low8(instance), address});
    return it == s.index.end() ? nullptr : &it->second;
}

std::optional<uint32_t> FindLocked(Store& s, uint32_t instance, std::string_view address) {
    if (const auto* ids = Candidates(s, instance, address))
        for (const uint32_t id : *ids)
            if (s.gates.at(id).instance == instance) return id;
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
    const Gate& gate = s.gates[id] =
        Gate{instance, std::string(address), FoldCase(address), {}, {}, 0};
    s.index[GateKey{Low8(instance), gate.key}].push_back(id);
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
    const auto gate = s.gates.find(gateId);
    if (gate == s.gates.end()) return false;
    const auto bucket = s.index.find(GateProbe{Low8(gate->second.instance), gate->second.key});
    if (bucket != s.index.end()) {
        std::erase(bucket->second, gateId);
        if (bucket->second.empty()) s.index.erase(bucket);
    }
    s.gates.erase(gate);
    return true;
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
    const auto* ids = zanpro::Candidates(s, instance, address);
    if (ids == nullptr) return 3;
    *gateId = ids->front();
    return 0;
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
    // The text's storage is reused: a store allocates only when a text grows.
    if (gate->text)
        gate->text->assign(text);
    else
        gate->text.emplace(text);
    ++gate->stores;
    return 0;
}
