// Loads the driver with dlopen into a program that knows nothing of the host
// library. The driver's log calls must reach the host library's err (version node
// ZANPRO_1), never the C library's err, which would print and exit the process.
#include <dlfcn.h>
#include <roderavo/kor.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace zanpro {
struct LogLine {
    int32_t level;
    std::string text;
};
}  // namespace zanpro

namespace {

int Fail(const char* what, const char* detail = nullptr) {
    std::fprintf(stderr, "err_trap: %s%s%s\n", what, detail ? ": " : "", detail ? detail : "");
    return 1;
}

template <typename Function>
Function As(void* symbol) {
    Function function;
    std::memcpy(&function, &symbol, sizeof function);
    return function;
}

}  // namespace

int main() {
    if (dlsym(RTLD_DEFAULT, "ZanMkClient") != nullptr)
        return Fail("the host library is already loaded; this program must not link it");

    void* driver = dlopen(RODERAVO_DRIVER_PATH, RTLD_NOW | RTLD_LOCAL);
    if (driver == nullptr) return Fail("dlopen", dlerror());
    const auto korMain = As<int32_t (*)(KorCall*)>(dlsym(driver, "KorMain"));
    if (korMain == nullptr) return Fail("no KorMain");

    // The err the driver binds to lives in the host library.
    void* driverErr = dlvsym(driver, "err", "ZANPRO_1");
    Dl_info where{};
    if (driverErr == nullptr || dladdr(driverErr, &where) == 0 || where.dli_fname == nullptr)
        return Fail("no err@ZANPRO_1 in the driver's scope");
    const std::string file = where.dli_fname;
    if (file.size() < std::strlen(ZANPRO_FILE_NAME) ||
        file.compare(file.size() - std::strlen(ZANPRO_FILE_NAME), std::string::npos,
                     ZANPRO_FILE_NAME) != 0)
        return Fail("the driver's err is in", where.dli_fname);
    if (driverErr == dlsym(RTLD_DEFAULT, "err")) return Fail("the driver's err is the C library's");

    void* host = dlopen(ZANPRO_FILE_NAME, RTLD_NOW | RTLD_NOLOAD);
    if (host == nullptr) return Fail("the host library was not loaded with the driver", dlerror());
    const auto takeLog =
        As<std::vector<zanpro::LogLine> (*)()>(dlsym(host, "_ZN6zanpro7TakeLogEv"));
    if (takeLog == nullptr) return Fail("no zanpro::TakeLog", dlerror());
    takeLog();

    // BlockRead logs at level 32; the C library's err would exit here with status 32.
    DriverContext context{};
    KorCall call{&context, KOR_FUNC_BLOCK_READ, 1, 0, nullptr};
    const int32_t result = korMain(&call);
    const std::vector<zanpro::LogLine> lines = takeLog();
    if (result != KOR_REFUSED) return Fail("BlockRead did not return 1");
    if (lines.size() != 2 || lines[0].level != 8 ||
        lines[0].text != "VERODI: Entered KorMain(), with function 5" || lines[1].level != 32 ||
        lines[1].text != "VERODI: KOR does not support block read.")
        return Fail("the host library did not receive the driver's two lines");
    std::printf("err_trap: the driver's lines arrived in %s\n", where.dli_fname);
    return 0;
}
