// Serial port names as Linux users write them, and why a port would not open.
#pragma once

#include <string>
#include <vector>

namespace roderavo::tool {

inline constexpr std::size_t kMaxPortName = 11;  // the driver's PortName holds 11 characters

struct ResolvedPort {
    std::string driverName;  // what the driver's PortName receives
    std::string devicePath;  // the device behind it, for messages and diagnosis
    std::string error;       // non-empty: the name cannot be used
};

// "ttyUSB0", "pts/3", "/dev/ttyS1" and names that fit pass as they are (a name that
// begins with "/" is used as it stands, any other is looked up under /dev/).
// Longer names, such as /dev/serial/by-id/... links, are resolved to the device they
// point to and given to the driver relative to /dev/ ("/dev/ttyUSB0" -> "ttyUSB0").
ResolvedPort ResolvePortName(const std::string& name);

// The serial devices that exist on this machine, for a user who named one that
// does not: by-id links with their targets, USB and ACM adapters, UARTs that
// have hardware behind them.
std::vector<std::string> ListSerialDevices();

// The processes that hold a device open, as "pid 1234 (minicom)".
std::vector<std::string> DeviceHolders(const std::string& devicePath);

// Advice for a device that this user may not open: join the group that may use
// it, or (no group but root's may) a udev rule that gives it to dialout.
std::string PermissionAdvice(const std::string& path, unsigned mode, unsigned uid, unsigned gid);

// Why the device did not open, from the system's error the open got (the one the
// driver leaves after KorMain, errno or GetLastError), and what to do about it: no
// such device (with the devices that exist), permission denied (the dialout
// group), busy (who holds it: by its lock file, its exclusive mode or its flock).
// The device is not opened again. Empty when the error says that the device opened
// but would not take the line settings (or names no error at all).
std::string DiagnosePort(const std::string& devicePath, int systemError);
// The system's error for a device that is not there (ENOENT, ERROR_FILE_NOT_FOUND).
extern const int kNoSuchDevice;

}  // namespace roderavo::tool
