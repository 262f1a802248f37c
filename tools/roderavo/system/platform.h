// What the tool needs of the operating system besides the port and the terminal:
// the driver library loaded by file name, the program's folder, whether stdout is
// a terminal, the local time, and what this system offers (the built-in simulator
// and the protocol tap hand the driver a pseudo-terminal, which only POSIX has).
// posix/platform_posix.cpp, win32/platform_win32.cpp.
#pragma once
#define RODERAVO_TREE_PLATFORM_H 1  // the tree's own copy, as the layer probes ask

#include <ctime>
#include <string>

namespace roderavo::tool {

// The driver's file name: libroderavo.so, or RODERAVO.DLL on Windows.
extern const char* const kDriverFileName;
// Where an installation keeps the driver, relative to the program's folder
// ("../lib" on POSIX, the program's own folder on Windows).
extern const char* const kDriverFolderFromProgram;

std::string ProgramDirectory();

// Loads a library for good (it is never unloaded); nullptr and why on failure.
void* LoadDriverLibrary(const std::string& path, std::string* why);
void* LibrarySymbol(void* library, const char* name);

// The calling thread's last system error (errno, GetLastError): what the driver
// leaves there when an operation fails on the line.
int LastSystemError();
// What the system calls that error (strerror, FormatMessage), with its number.
std::string SystemErrorText(int error);

bool StdoutIsTerminal();
std::tm LocalTime(std::time_t time);

// The port names --port takes, for its help.
extern const char* const kPortHelp;
// How the help quotes an example for this system's shell ('…' for a POSIX shell,
// "…" for cmd.exe, which passes single quotes on), and where the guide is.
extern const char kShellQuote;
extern const char* const kGuideLocation;

// The tool's UTF-8 output shown as it is on a console (Windows: through
// WriteConsoleW, win32/console_win32.cpp; elsewhere nothing to do).
void PrepareConsole();

// The stop bits a serial port takes here: 1.5 on Windows only (termios has none).
extern const bool kHasOneAndHalfStopBits;
extern const char* const kStopBitsHelp;  // "1 or 2", or "1, 1.5 or 2"

// The built-in simulator and the protocol tap: POSIX only.
extern const bool kHasPseudoTerminals;
inline constexpr const char* kNoPseudoTerminals =
    "the built-in simulator and the protocol tap (--trace) are POSIX-only (they hand the driver "
    "a pseudo-terminal): on Windows give the port with --port COMn, without --trace";

}  // namespace roderavo::tool
