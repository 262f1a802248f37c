// The host side of the reference host library: what a host, a tool or a test uses
// to set up gates, read back what the driver stored and look at the log.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zanpro {

#if defined(_WIN32)
// ZANPRO.dll exports C functions only: on Windows this API is a static library
// on the host's side (host_imports.cpp), over the C functions of zanpro_host.h
// (host_exports.cpp). A function added here needs its C function there too.
#define ZANPRO_HOST_API
#else
#define ZANPRO_HOST_API __attribute__((visibility("default")))
#endif

// Gates. Addresses match case-insensitively ("tas005" finds "TAS005"), so a host
// may register a gate in whatever case its tag editor produced.
ZANPRO_HOST_API uint32_t AddGate(uint32_t instance, std::string_view address);
ZANPRO_HOST_API std::optional<uint32_t> FindGate(uint32_t instance, std::string_view address);
ZANPRO_HOST_API bool RemoveGate(uint32_t gateId);
ZANPRO_HOST_API std::optional<double> GateValue(uint32_t gateId);
ZANPRO_HOST_API std::optional<std::string> GateText(uint32_t gateId);
// Number of stores (values and texts) a gate has received.
ZANPRO_HOST_API uint32_t GateStores(uint32_t gateId);
// Number of gate look-ups by address (ZanGetGateIdByAddressStr), found or not, since
// the start or the last Reset. A driver looks gates up only while it stores a reply.
ZANPRO_HOST_API uint64_t GateLookups();

// Clients.
ZANPRO_HOST_API std::vector<std::string> ClientNames();
ZANPRO_HOST_API std::optional<uint8_t> ClientId(std::string_view name);

// The log.
struct LogLine {
    int32_t level;
    std::string text;
    bool operator==(const LogLine&) const = default;
};
ZANPRO_HOST_API std::vector<LogLine> Log();
ZANPRO_HOST_API std::vector<LogLine> TakeLog();  // returns the lines and clears them
ZANPRO_HOST_API void ClearLog();

// The kept list is a ring of the last LogCapacity() lines, kDefaultLogCapacity
// unless SetLogCapacity says otherwise (0 keeps none); a new line beyond it pushes
// the oldest out. SetLogCapacity keeps the newest lines that fit.
inline constexpr std::size_t kDefaultLogCapacity = 10000;
ZANPRO_HOST_API void SetLogCapacity(std::size_t lines);
ZANPRO_HOST_API std::size_t LogCapacity();

// Where log lines go besides the kept list. The default writes to stderr and shows
// trace lines (level 8) only when ShowTraces(true) was called.
using LogSink = std::function<void(int32_t level, std::string_view text)>;
ZANPRO_HOST_API void SetLogSink(LogSink sink);  // an empty sink restores the default
ZANPRO_HOST_API void ShowTraces(bool show);
ZANPRO_HOST_API void KeepLog(bool keep);  // default true: keep the last LogCapacity() lines

// Forgets every client, gate and log line.
ZANPRO_HOST_API void Reset();

}  // namespace zanpro
