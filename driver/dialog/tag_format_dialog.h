// The Tag Format dialog: composes a gate address for the host's tag editor.
#pragma once

#include "base/status.h"

namespace roderavo {

// Runs the dialog and leaves the composed address in buffer (at least 9 bytes).
// Not built yet: no operation, no log line.
DriverStatus ShowTagFormatDialog(char* buffer);

}  // namespace roderavo
