// The Tag Format dialog on POSIX systems: shown on the controlling terminal by the
// terminal module, which is loaded only when /dev/tty opens. Without a terminal,
// or without the module, no dialog is shown.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstring>

#include "dialog/posix/terminal_dialog.h"
#include "dialog/tag_format_dialog.h"
#include "dialog/tag_format_model.h"

namespace roderavo {

namespace {

std::atomic<bool> dialogOpen{false};
TagFormatResult tagFormatResult;

// The terminal module's path: the folder roderavo/ beside the library this code is in.
bool ModulePath(std::array<char, 4096>& path) {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&ShowTagFormatDialog), &info) == 0 ||
        info.dli_fname == nullptr)
        return false;
    const char* slash = std::strrchr(info.dli_fname, '/');
    if (slash == nullptr) return false;
    const std::size_t folder = static_cast<std::size_t>(slash - info.dli_fname) + 1;
    const std::size_t name = sizeof RODERAVO_TERMINAL_DIALOG_MODULE;  // with its NUL
    if (folder + name > path.size()) return false;
    std::memcpy(path.data(), info.dli_fname, folder);
    std::memcpy(path.data() + folder, RODERAVO_TERMINAL_DIALOG_MODULE, name);
    return true;
}

// The module stays loaded once loaded: curses keeps state (and may have kept
// handlers) that must not point into unmapped code.
int32_t RunOnTerminal(int tty) {
    std::array<char, 4096> path{};
    if (!ModulePath(path)) return kTagFormatNotShown;
    void* module = dlopen(path.data(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (module == nullptr) return kTagFormatNotShown;
    int32_t end = kTagFormatNotShown;
    const auto run = reinterpret_cast<RoderavoTerminalTagFormatFn>(
        dlsym(module, RODERAVO_TERMINAL_DIALOG_ENTRY));
    if (run != nullptr) end = run(tty, &tagFormatResult);
    dlclose(module);
    return end;
}

}  // namespace

DriverStatus ShowTagFormatDialog(char* buffer) {
    if (buffer == nullptr) return DriverStatus::DialogRefused;
    if (dialogOpen.exchange(true)) return DriverStatus::DialogRefused;
    int32_t end = kTagFormatNotShown;
    const int tty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty >= 0) {
        if (isatty(tty) == 1) end = RunOnTerminal(tty);
        close(tty);
    }
    if (end == kTagFormatEndOk) WriteTagAddress(tagFormatResult, buffer);
    dialogOpen.store(false);
    return end == kTagFormatEndOk ? DriverStatus::Ok : DriverStatus::DialogRefused;
}

}  // namespace roderavo
