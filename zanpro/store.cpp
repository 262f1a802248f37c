#include "store.h"

#include <cctype>

namespace zanpro {

Store& TheStore() {
    static Store store;
    return store;
}

char FoldChar(char c) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

std::string FoldCase(std::string_view text) {
    std::string folded(text);
    for (char& c : folded) c = FoldChar(c);
    return folded;
}

// FNV-1a over the instance byte and the folded characters.
std::size_t GateKeyHash::operator()(const GateProbe& probe) const {
    uint64_t hash = 14695981039346656037ULL;
    const auto mix = [&hash](unsigned char byte) {
        hash ^= byte;
        hash *= 1099511628211ULL;
    };
    mix(probe.instance);
    for (const char c : probe.address) mix(static_cast<unsigned char>(FoldChar(c)));
    return static_cast<std::size_t>(hash);
}

bool GateKeyEqual::Same(uint8_t a, std::string_view x, uint8_t b, std::string_view y) {
    if (a != b || x.size() != y.size()) return false;
    for (std::size_t i = 0; i < x.size(); ++i)
        if (FoldChar(x[i]) != FoldChar(y[i])) return false;
    return true;
}

void Reset() {
    auto& s = TheStore();
    std::lock_guard lock(s.mutex);
    for (auto& c : s.clients) c.reset();
    s.gates.clear();
    s.index.clear();
    s.nextGateId = 1;
    s.lookups = 0;
    s.lastClientId = 0;
    s.log.Clear();
}

}  // namespace zanpro
