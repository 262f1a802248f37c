#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <io.h>

#include <array>
#include <cstdio>
#include <filesystem>

#include "system/platform.h"

namespace roderavo::tool {

const char* const kDriverFileName = "RODERAVO.DLL";
const char* const kDriverFolderFromProgram = ".";
const char* const kPortHelp = "COM1 ... COM9, COM10 and above (the driver is given \\\\.\\COM10)";
const bool kHasPseudoTerminals = false;
const bool kHasOneAndHalfStopBits = true;
const char* const kStopBitsHelp = "1, 1.5 or 2";
const char kShellQuote = '"';
const char* const kGuideLocation = "docs\\guide.md beside the bin folder";

std::string ProgramDirectory() {
    std::array<char, MAX_PATH> path{};
    const DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0 || n >= path.size()) return {};
    return std::filesystem::path(std::string(path.data(), n)).parent_path().string();
}

void* LoadDriverLibrary(const std::string& path, std::string* why) {
    HMODULE library = LoadLibraryA(path.c_str());
    if (library == nullptr) *why = "LoadLibrary error " + std::to_string(GetLastError());
    return reinterpret_cast<void*>(library);
}

void* LibrarySymbol(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

int LastSystemError() {
    return static_cast<int>(GetLastError());
}

std::string SystemErrorText(int error) {
    std::array<char, 256> text{};
    const DWORD size = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, static_cast<DWORD>(error), 0, text.data(),
                                      static_cast<DWORD>(text.size()), nullptr);
    std::string said(text.data(), size);
    while (!said.empty() && (said.back() == '\n' || said.back() == '\r' || said.back() == '.'))
        said.pop_back();
    if (said.empty()) said = "Windows error";
    return said + ", error " + std::to_string(error);
}

bool StdoutIsTerminal() {
    return _isatty(_fileno(stdout)) != 0;
}

std::tm LocalTime(std::time_t time) {
    std::tm local{};
    localtime_s(&local, &time);
    return local;
}

}  // namespace roderavo::tool
