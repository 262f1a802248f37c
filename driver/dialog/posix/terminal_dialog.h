// The terminal front end of the Tag Format dialog: a module of its own
// (libroderavo-tagformat.so, linked with curses), which the driver loads only when
// the process has a controlling terminal.
#pragma once

#include <cstdint>

#include "dialog/tag_format_model.h"

// The module's file name, looked for next to the driver library, and its one entry.
#define RODERAVO_TERMINAL_DIALOG_MODULE "roderavo/libroderavo-tagformat.so"
#define RODERAVO_TERMINAL_DIALOG_ENTRY "RoderavoTerminalTagFormat"

extern "C" {

// Runs the dialog on the terminal open as tty. kTagFormatEndOk with result filled,
// kTagFormatEndCancel, or kTagFormatNotShown (terminal unknown or too small; the
// module says which on the terminal).
using RoderavoTerminalTagFormatFn = int32_t (*)(int tty, roderavo::TagFormatResult* result);

}  // extern "C"
