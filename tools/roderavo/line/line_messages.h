// What the tool tells a user when a read or write of a gate fails on the line.
#pragma once

#include <string>

namespace roderavo::tool {

// "5 attempts": the driver's attempts of one exchange, as the messages say them.
std::string Attempts();

// `action` is "read" or "write"; `malformed` when the device answered unusably;
// `systemError` the error the driver left (0: the port itself did not fail).
std::string LineFailureMessage(const std::string& action, const std::string& address, int plcNum,
                               const std::string& port, int pollIntervalMs, bool malformed,
                               int systemError);

}  // namespace roderavo::tool
