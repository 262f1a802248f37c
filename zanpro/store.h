// The in-memory state of the reference host library.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "host.h"

namespace zanpro {

struct Gate {
    uint32_t instance = 0;
    std::string address;  // as registered
    std::string key;      // upper-cased, for look-up
    std::optional<double> value;
    std::optional<std::string> text;
    uint32_t stores = 0;
};

// The gates by the low 8 bits of their instance number and their folded address.
// A look-up hashes and compares the address folding each character as it goes,
// so it neither copies nor upper-cases it.
struct GateKey {
    uint8_t instance;
    std::string folded;
};
struct GateProbe {
    uint8_t instance;
    std::string_view address;  // in any case
};
struct GateKeyHash {
    using is_transparent = void;
    std::size_t operator()(const GateKey& key) const {
        return (*this)(GateProbe{key.instance, key.folded});
    }
    std::size_t operator()(const GateProbe& probe) const;
};
struct GateKeyEqual {
    using is_transparent = void;
    static bool Same(uint8_t a, std::string_view x, uint8_t b, std::string_view y);
    template <typename A, typename B>
    bool operator()(const A& a, const B& b) const {
        return Same(a.instance, View(a), b.instance, View(b));
    }
    static std::string_view View(const GateKey& key) { return key.folded; }
    static std::string_view View(const GateProbe& probe) { return probe.address; }
};
// The ids of the gates under one key, ascending (one, unless instance numbers
// differ above their low 8 bits).
using GateIndex = std::unordered_map<GateKey, std::vector<uint32_t>, GateKeyHash, GateKeyEqual>;

// The kept log: the last `capacity` lines, oldest first. Its storage is taken
// once, at the first line: a cell of kCellText characters per line, so that
// keeping a line costs no allocation (only a longer line, which is kept whole in
// a text of its own). Once full, a new line takes the place of the oldest.
class LogRing {
  public:
    static constexpr std::size_t kCellText = 128;

    void Push(int32_t level, std::string_view text);
    std::vector<LogLine> Lines() const;
    void Clear();
    void SetCapacity(std::size_t lines);
    std::size_t Capacity() const { return capacity_; }

  private:
    struct Slot {
        int32_t level = 0;
        std::size_t size = 0;  // in its cell; npos: in `longer`
        std::string longer;
    };
    LogLine LineAt(std::size_t slot) const;

    std::vector<char> cells_;  // capacity_ x kCellText, taken at the first line
    std::vector<Slot> slots_;
    std::size_t start_ = 0;  // the oldest line's slot
    std::size_t count_ = 0;
    std::size_t capacity_ = kDefaultLogCapacity;
};

struct Store {
    std::mutex mutex;
    std::array<std::optional<std::string>, 256> clients;  // index = client id, 0 unused
    std::map<uint32_t, Gate> gates;
    GateIndex index;
    uint32_t nextGateId = 1;
    uint64_t lookups = 0;     // ZanGetGateIdByAddressStr calls
    size_t lastClientId = 0;  // the id ZanMkClient gave last
    LogRing log;
    std::shared_ptr<const LogSink> sink;  // shared, so that err takes it without a copy
    bool showTraces = false;
    bool keepLog = true;
};

Store& TheStore();
char FoldChar(char c);
std::string FoldCase(std::string_view text);

}  // namespace zanpro
