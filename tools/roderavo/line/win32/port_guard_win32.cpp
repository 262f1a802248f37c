#include "line/port_guard.h"

namespace roderavo::tool {

// Windows gives a port back when the process ends: nothing to guard.
class PortGuard::Impl {};

PortGuard::PortGuard() = default;
PortGuard::~PortGuard() = default;
void PortGuard::Prepare(const std::string&) {}
void PortGuard::Arm() {}
void PortGuard::Disarm() {}

}  // namespace roderavo::tool
