// Clients: one per driver instance, named by the driver, ids 1..255.
#include <zanpro/zanpro.h>

#include "store.h"

namespace zanpro {

std::vector<std::string> ClientNames() {
    auto& s = TheStore();
    std::lock_guard lock(s.mutex);
    std::vector<std::string> names;
    for (const auto& c : s.clients)
        if (c) names.push_back(*c);
    return names;
}

std::optional<uint8_t> ClientId(std::string_view name) {
    auto& s = TheStore();
    std::lock_guard lock(s.mutex);
    for (size_t id = 1; id < s.clients.size(); ++id)
        if (s.clients[id] && *s.clients[id] == name) return static_cast<uint8_t>(id);
    return std::nullopt;
}

}  // namespace zanpro

using zanpro::TheStore;

extern "C" int16_t ZanMkClient(const char* name, int32_t /*kind*/, int32_t /*flags*/,
                               uint8_t* clientId) {
    if (name == nullptr || clientId == nullptr) return 1;
    auto& s = TheStore();
    std::lock_guard lock(s.mutex);
    for (const auto& client : s.clients)
        if (client && *client == name) return 2;  // duplicate name
    // Ids are handed out round the ring after the last one given, so a freed id
    // comes back as late as possible: a driver instance that removes its client a
    // second time (Exit after ClosePort) then finds the id still unused instead of
    // removing a newer client of another instance.
    const size_t ids = s.clients.size() - 1;
    size_t freeId = 0;
    for (size_t step = 1; step <= ids && freeId == 0; ++step) {
        const size_t id = (s.lastClientId + step - 1) % ids + 1;
        if (!s.clients[id]) freeId = id;
    }
    if (freeId == 0) return 3;  // all 255 ids taken
    s.lastClientId = freeId;
    s.clients[freeId] = std::string(name);
    *clientId = static_cast<uint8_t>(freeId);
    return 0;
}

extern "C" int16_t ZanRmClient(uint32_t clientId) {
    auto& s = TheStore();
    std::lock_guard lock(s.mutex);
    if (clientId == 0 || clientId >= s.clients.size() || !s.clients[clientId]) return 1;
    s.clients[clientId].reset();
    return 0;
}
