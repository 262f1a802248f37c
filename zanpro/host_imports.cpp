// zanpro/host.h on Windows: the host's C++ API, built in the host's program over
// the C functions that ZANPRO.dll exports (zanpro_host.h).
#include <string>

#include "host.h"
#include "zanpro_host.h"

namespace zanpro {

namespace {

inline constexpr uint32_t kClientIds = 256;

std::string Text(size_t (*get)(uint32_t, char*, size_t), uint32_t id, bool* found) {
    const size_t size = get(id, nullptr, 0);
    *found = size != 0;
    if (size == 0) return {};
    std::string text(size, '\0');
    get(id, text.data(), text.size());
    text.resize(size - 1);
    return text;
}

void AppendLine(int32_t level, const char* text, size_t length, void* context) {
    static_cast<std::vector<LogLine>*>(context)->push_back({level, std::string(text, length)});
}

std::vector<LogLine> Lines(int take) {
    std::vector<LogLine> lines;
    ZanHostVisitLog(AppendLine, &lines, take);
    return lines;
}

LogSink& CurrentSink() {
    static LogSink sink;
    return sink;
}

void CallSink(int32_t level, const char* text, size_t length, void*) {
    if (CurrentSink()) CurrentSink()(level, std::string_view(text, length));
}

}  // namespace

uint32_t AddGate(uint32_t instance, std::string_view address) {
    return ZanHostAddGate(instance, std::string(address).c_str());
}

std::optional<uint32_t> FindGate(uint32_t instance, std::string_view address) {
    uint32_t id = 0;
    if (ZanHostFindGate(instance, std::string(address).c_str(), &id) == 0) return std::nullopt;
    return id;
}

bool RemoveGate(uint32_t gateId) {
    return ZanHostRemoveGate(gateId) != 0;
}

std::optional<double> GateValue(uint32_t gateId) {
    double value = 0;
    if (ZanHostGateValue(gateId, &value) == 0) return std::nullopt;
    return value;
}

std::optional<std::string> GateText(uint32_t gateId) {
    bool found = false;
    std::string text = Text(ZanHostGateText, gateId, &found);
    if (!found) return std::nullopt;
    return text;
}

uint32_t GateStores(uint32_t gateId) {
    return ZanHostGateStores(gateId);
}

uint64_t GateLookups() {
    return ZanHostGateLookups();
}

std::vector<std::string> ClientNames() {
    std::vector<std::string> names;
    for (uint32_t id = 1; id < kClientIds; ++id) {
        bool found = false;
        std::string name = Text(ZanHostClientName, id, &found);
        if (found) names.push_back(std::move(name));
    }
    return names;
}

std::optional<uint8_t> ClientId(std::string_view name) {
    for (uint32_t id = 1; id < kClientIds; ++id) {
        bool found = false;
        if (Text(ZanHostClientName, id, &found) == name && found) return static_cast<uint8_t>(id);
    }
    return std::nullopt;
}

std::vector<LogLine> Log() {
    return Lines(0);
}

std::vector<LogLine> TakeLog() {
    return Lines(1);
}

void ClearLog() {
    ZanHostClearLog();
}

void SetLogCapacity(std::size_t lines) {
    ZanHostSetLogCapacity(lines);
}

std::size_t LogCapacity() {
    return ZanHostLogCapacity();
}

void SetLogSink(LogSink sink) {
    CurrentSink() = std::move(sink);
    ZanHostSetLogSink(CurrentSink() ? CallSink : nullptr, nullptr);
}

void ShowTraces(bool show) {
    ZanHostShowTraces(show ? 1 : 0);
}

void KeepLog(bool keep) {
    ZanHostKeepLog(keep ? 1 : 0);
}

void Reset() {
    ZanHostReset();
}

}  // namespace zanpro
