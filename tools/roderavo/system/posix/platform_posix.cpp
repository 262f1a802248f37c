#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "system/platform.h"

namespace roderavo::tool {

const char* const kDriverFileName = "libroderavo.so.1";
// ../lib, or ../lib/<triplet> under /usr on Debian: from the install's own folders.
const char* const kDriverFolderFromProgram = RODERAVO_LIBDIR_FROM_BINDIR;
const char* const kPortHelp =
    "ttyUSB0, ttyS1, pts/3, /dev/ttyUSB0 or a /dev/serial/by-id/... link (without --port the "
    "built-in simulator is used)";
const bool kHasPseudoTerminals = true;
const bool kHasOneAndHalfStopBits = false;
const char* const kStopBitsHelp = "1 or 2";
const char kShellQuote = '\'';
const char* const kGuideLocation =
    "guide.md in /usr/share/doc/roderavo (docs/guide.md in the source)";

void PrepareConsole() {}

std::string ProgramDirectory() {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.parent_path().string();
}

void* LoadDriverLibrary(const std::string& path, std::string* why) {
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* error = dlerror();
        *why = error != nullptr ? error : "unknown error";
    }
    return library;
}

void* LibrarySymbol(void* library, const char* name) {
    return dlsym(library, name);
}

int LastSystemError() {
    return errno;
}

std::string SystemErrorText(int error) {
    return std::string(std::strerror(error)) + ", errno " + std::to_string(error);
}

bool StdoutIsTerminal() {
    return isatty(STDOUT_FILENO) != 0;
}

std::tm LocalTime(std::time_t time) {
    std::tm local{};
    localtime_r(&time, &local);
    return local;
}

}  // namespace roderavo::tool
