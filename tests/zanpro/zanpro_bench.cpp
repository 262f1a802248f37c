// A quick measure of the reference host library under the driver: the heap in use
// after 10^5 parses through KorMain with the library's default log setting, and
// the time of a gate look-up among many gates and of one log line. Not a test:
// run it by hand (build/default/tests/zanpro/zanpro_bench) and compare builds.
#include <malloc.h>
#include <roderavo/kor.h>
#include <zanpro/host.h>
#include <zanpro/zanpro.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/allocation_counter.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

size_t HeapInUse() {
    return mallinfo2().uordblks;
}

long RssKb() {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) return -1;
    char line[256];
    long kb = -1;
    while (std::fgets(line, sizeof line, status) != nullptr)
        if (std::sscanf(line, "VmRSS: %ld", &kb) == 1) break;
    std::fclose(status);
    return kb;
}

}  // namespace

int main() {
    zanpro::SetLogSink([](int32_t, std::string_view) {});  // quiet; the kept log as by default

    const size_t heapBefore = HeapInUse();
    const long rssBefore = RssKb();
    constexpr int kParses = 100000;
    DriverContext context{};
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kParses; ++i) {
        ParseParams params{};
        params.Address = (i % 2) != 0 ? "ALS121" : "sac140";
        KorCall call{&context, KOR_FUNC_SINGLE_PARSE, 1, 0, &params};
        KorMain(&call);
    }
    const double parseSeconds = Seconds(start);
    std::printf("10^5 parses: %.0f ns each; heap in use +%zu kB, RSS +%ld kB\n",
                parseSeconds * 1e9 / kParses, (HeapInUse() - heapBefore) / 1024,
                RssKb() - rssBefore);

    // Look-ups among 5 instances x 3 companion forms x 100 cameras = 1500 gates.
    uint8_t client = 0;
    ZanMkClient("bench", 1, 0, &client);
    std::vector<std::string> names;
    for (uint32_t instance = 1; instance <= 5; ++instance)
        for (const char* form : {"SAC", "TAS", "SVC"})
            for (int camera = 1; camera <= 100; ++camera) {
                char name[16];
                std::snprintf(name, sizeof name, "%s%d%02d", form, (camera - 1) / 20,
                              (camera - 1) % 20 + 1);
                zanpro::AddGate(instance, name);
                if (instance == 5) names.push_back(name);
            }
    constexpr int kLookups = 200000;
    uint32_t found = 0;
    start = std::chrono::steady_clock::now();
    for (int i = 0; i < kLookups; ++i) {
        uint32_t id = 0;
        if (ZanGetGateIdByAddressStr(
                client, 5, names[static_cast<size_t>(i) % names.size()].c_str(), &id) == 0)
            ++found;
    }
    std::printf("gate look-up among 1500 gates: %.0f ns each (%u found)\n",
                Seconds(start) * 1e9 / kLookups, found);

    constexpr int kLines = 1000000;
    start = std::chrono::steady_clock::now();
    for (int i = 0; i < kLines; ++i) err(8, "VERODI: Entered KorMain(), with function %d", i % 17);
    std::printf("err: %.0f ns per line\n", Seconds(start) * 1e9 / kLines);
    for (int i = 0; i < 20000; ++i)  // every slot of the ring has held such a line
        err(32, "VERODI: Failed to read reply from PLC,GAS:%s.", "VER1");
    const unsigned long before = roderavo_test::Allocations();
    for (int i = 0; i < 1000; ++i) err(32, "VERODI: Failed to read reply from PLC,GAS:%s.", "VER1");
    std::printf("err: %.2f allocations per line\n",
                static_cast<double>(roderavo_test::Allocations() - before) / 1000);
    std::printf("heap in use at the end: %zu kB\n", HeapInUse() / 1024);
    return 0;
}
