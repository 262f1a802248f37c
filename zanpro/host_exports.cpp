// The C functions of zanpro_host.h (libzanpro.so.1, ZANPRO.dll), over the library's C++ API.
#include "zanpro_host.h"

#include <cstring>
#include <string>

#include "host.h"

namespace {

size_t CopyText(const std::string& text, char* buffer, size_t size) {
    if (buffer != nullptr && size > 0) {
        const size_t n = text.size() < size ? text.size() : size - 1;
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
    }
    return text.size() + 1;
}

}  // namespace

extern "C" {

uint32_t ZanHostAddGate(uint32_t instance, const char* address) {
    return address == nullptr ? 0 : zanpro::AddGate(instance, address);
}

int ZanHostFindGate(uint32_t instance, const char* address, uint32_t* gateId) {
    if (address == nullptr) return 0;
    const auto id = zanpro::FindGate(instance, address);
    if (!id) return 0;
    if (gateId != nullptr) *gateId = *id;
    return 1;
}

int ZanHostRemoveGate(uint32_t gateId) {
    return zanpro::RemoveGate(gateId) ? 1 : 0;
}

int ZanHostGateValue(uint32_t gateId, double* value) {
    const auto held = zanpro::GateValue(gateId);
    if (!held) return 0;
    if (value != nullptr) *value = *held;
    return 1;
}

size_t ZanHostGateText(uint32_t gateId, char* buffer, size_t size) {
    const auto text = zanpro::GateText(gateId);
    return text ? CopyText(*text, buffer, size) : 0;
}

uint32_t ZanHostGateStores(uint32_t gateId) {
    return zanpro::GateStores(gateId);
}

uint64_t ZanHostGateLookups(void) {
    return zanpro::GateLookups();
}

size_t ZanHostClientName(uint32_t clientId, char* buffer, size_t size) {
    for (const std::string& name : zanpro::ClientNames())
        if (zanpro::ClientId(name) == clientId) return CopyText(name, buffer, size);
    return 0;
}

void ZanHostVisitLog(ZanHostLineFunction visit, void* context, int take) {
    const auto lines = take != 0 ? zanpro::TakeLog() : zanpro::Log();
    if (visit == nullptr) return;
    for (const zanpro::LogLine& line : lines)
        visit(line.level, line.text.c_str(), line.text.size(), context);
}

void ZanHostClearLog(void) {
    zanpro::ClearLog();
}

void ZanHostSetLogCapacity(size_t lines) {
    zanpro::SetLogCapacity(lines);
}

size_t ZanHostLogCapacity(void) {
    return zanpro::LogCapacity();
}

void ZanHostSetLogSink(ZanHostLineFunction sink, void* context) {
    if (sink == nullptr) {
        zanpro::SetLogSink({});
        return;
    }
    zanpro::SetLogSink([sink, context](int32_t level, std::string_view text) {
        const std::string line(text);
        sink(level, line.c_str(), line.size(), context);
    });
}

void ZanHostShowTraces(int show) {
    zanpro::ShowTraces(show != 0);
}

void ZanHostKeepLog(int keep) {
    zanpro::KeepLog(keep != 0);
}

void ZanHostReset(void) {
    zanpro::Reset();
}

}  // extern "C"
