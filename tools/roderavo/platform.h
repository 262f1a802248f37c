// What the tool needs of the operating system besides the port and the terminal:
// the driver library loaded by file name, the program's folder, whether stdout is
// a terminal, the local time. posix/platform_posix.cpp, win32/platform_win32.cpp.
#pragma once

#include <ctime>
#include <string>

namespace roderavo::tool {

// The driver's file name: libroderavo.so, or RODERAVO.DLL on Windows.
extern const char* const kDriverFileName;
// The installation's folder of the driver: "lib", or "bin" on Windows.
extern const char* const kInstalledDriverFolder;
// Where an installation keeps the driver, relative to the program's folder
// ("../lib" on POSIX, the program's own folder on Windows).
extern const char* const kDriverFolderFromProgram;

std::string ProgramDirectory();

// Loads a library for good (it is never unloaded); nullptr and why on failure.
void* LoadDriverLibrary(const std::string& path, std::string* why);
void* LibrarySymbol(void* library, const char* name);

bool StdoutIsTerminal();
std::tm LocalTime(std::time_t time);

// The port names --port takes, for its help.
extern const char* const kPortHelp;

// The built-in simulator runs on a pseudo-terminal: POSIX only.
extern const bool kHasSimulator;

}  // namespace roderavo::tool
