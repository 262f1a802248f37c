// The in-memory state of the reference host library.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "host.h"
#include "store_mutex.h"

namespace zanpro {

struct Gate {
    uint32_t instance = 0;
    std::string address;  // as registered
    std::string key;      // upper-cased, for look-up
    std::optional<double> value;
    std::optional<std::string> text;
    uint32_t stores = 0;
};

struct Store {
    StoreMutex mutex;
    std::array<std::optional<std::string>, 256> clients;  // index = client id, 0 unused
    std::map<uint32_t, Gate> gates;
    uint32_t nextGateId = 1;
    uint64_t lookups = 0;     // ZanGetGateIdByAddressStr calls
    size_t lastClientId = 0;  // the id ZanMkClient gave last
    std::vector<LogLine> log;
    LogSink sink;
    bool showTraces = false;
    bool keepLog = true;
};

Store& TheStore();
std::string FoldCase(std::string_view text);

}  // namespace zanpro
