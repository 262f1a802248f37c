// The Tag Format dialog: composes a gate address for the host's tag editor. Each
// platform shows it its own way (dialog/posix, dialog/win32) over one model
// (tag_format_model.h).
#pragma once

#include "base/status.h"

namespace roderavo {

// Runs the dialog modally. Closed with OK: the composed address is in buffer (at
// least 9 bytes) and the result is Ok. A dialog already open, none that can be
// shown, or one closed otherwise: DialogRefused, and buffer is not touched.
// Nothing is logged.
DriverStatus ShowTagFormatDialog(char* buffer);

}  // namespace roderavo
