// Result codes of the driver's operations and of its layers.
#pragma once

#include <cstdint>

namespace roderavo {

using DriverStatus = int32_t;

// Codes that reach the host.
inline constexpr DriverStatus kStatusOk = 0;
inline constexpr DriverStatus kStatusRefused = 1;         // refused, rejected, unusable reply
inline constexpr DriverStatus kStatusCommFailure = 2;     // line failure or no operation
inline constexpr DriverStatus kStatusDialogRefused = 53;  // dialog busy or not closed with OK

// Codes that stay inside the driver.
inline constexpr DriverStatus kStatusSerialFailure = 7;  // a port call failed
inline constexpr DriverStatus kStatusMalformed = 10;     // a reply frame is malformed

}  // namespace roderavo
