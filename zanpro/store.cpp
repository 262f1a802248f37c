#include "store.h"

#include <cctype>

namespace zanpro {

Store& TheStore() {
    static Store store;
    return store;
}

std::string FoldCase(std::string_view text) {
    std::string folded(text);
    for (char& c : folded) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return folded;
}

void Reset() {
    auto& s = TheStore();
    std::lock_guard lock(s.mutex);
    for (auto& c : s.clients) c.reset();
    s.gates.clear();
    s.nextGateId = 1;
    s.lookups = 0;
    s.lastClientId = 0;
    s.log.clear();
}

}  // namespace zanpro
