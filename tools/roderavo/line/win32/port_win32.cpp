// Serial port names as Windows users write them, and why a port would not open.
//
// COM1 to COM9 pass as they are; COM10 and above are given to the driver with the
// device prefix ("COM12" -> "\\.\COM12"), without which Windows does not open them.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "line/port.h"
#include "output/text.h"

namespace roderavo::tool {

namespace {

constexpr std::string_view kDevicePrefix = "\\\\.\\";

// The number of a "COMn" name (any case), or 0.
unsigned ComNumber(std::string_view name) {
    if (name.size() < 4 || name.size() > 7) return 0;
    for (std::size_t i = 0; i < 3; ++i)
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return 0;
    unsigned number = 0;
    for (const char c : name.substr(3)) {
        if (c < '0' || c > '9') return 0;
        number = number * 10 + static_cast<unsigned>(c - '0');
    }
    return number;
}

}  // namespace

ResolvedPort ResolvePortName(const std::string& name) {
    ResolvedPort port;
    if (name.empty()) {
        port.error = "the port name is empty";
        return port;
    }
    const unsigned com = ComNumber(name);
    std::string driverName = name;
    if (com >= 10) driverName = std::string(kDevicePrefix) + "COM" + std::to_string(com);
    if (driverName.size() > kMaxPortName) {
        port.error = "the driver takes port names of at most " + std::to_string(kMaxPortName) +
                     " characters (COM1 ... COM9, \\\\.\\COM10 ...)";
        return port;
    }
    port.driverName = driverName;
    port.devicePath = driverName.starts_with(kDevicePrefix)
                          ? driverName
                          : std::string(kDevicePrefix) + driverName;
    return port;
}

std::vector<std::string> ListSerialDevices() {
    std::vector<char> names(1 << 16);
    const DWORD n = QueryDosDeviceA(nullptr, names.data(), static_cast<DWORD>(names.size()));
    std::vector<std::string> ports;
    for (std::size_t at = 0; at < n && names[at] != '\0';) {
        const std::string name(names.data() + at);
        if (ComNumber(name) != 0) ports.push_back(name);
        at += name.size() + 1;
    }
    std::sort(ports.begin(), ports.end(), [](const std::string& a, const std::string& b) {
        return ComNumber(a) < ComNumber(b);
    });
    return ports;
}

std::vector<std::string> DeviceHolders(const std::string&) {
    return {};  // Windows does not tell which process holds a port
}

const int kNoSuchDevice = ERROR_FILE_NOT_FOUND;

std::string DiagnosePort(const std::string& devicePath, int systemError) {
    const auto error = static_cast<DWORD>(systemError);
    if (error == 0 || error == ERROR_INVALID_PARAMETER) return {};  // opened, settings refused
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        const std::vector<std::string> ports = ListSerialDevices();
        return "there is no port " + devicePath + "; the COM ports of this PC: " +
               (ports.empty() ? std::string("none") : Join(ports)) +
               " (a USB adapter gets its number when it is plugged in: see the Device Manager)";
    }
    if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION)
        return "the port " + devicePath + " is busy: another program holds it; close it there";
    return "the port " + devicePath + " does not open (Windows error " + std::to_string(error) +
           ")";
}

}  // namespace roderavo::tool
