// A host on one line, the same program on Linux and on Windows: it loads the
// driver (libroderavo.so or RODERAVO.DLL) with the reference host library
// (libzanpro.so.1 or ZANPRO.dll), reads VER, TAD, AAS, VLS and ALS and writes KEY,
// PRESET, INHPAIR and TAD on the multiplexer simulator, and prints every result,
// gate value, companion gate and log line. The port name given on the command
// line is printed as <port>, so that both platforms' transcripts are alike.
//   line_host PORT
#include <roderavo/kor.h>
#include <zanpro/host.h>

#include <array>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "support/host_records.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

constexpr int32_t kInstance = 1;
constexpr int32_t kPollInterval = 50;  // x 10 ms: a 500 ms read time-out

std::string portName;
DriverContext context{};
int failures = 0;

int32_t Call(uint32_t function, void* params) {
    return roderavo_test::CallDriver(context, function, kInstance, params);
}

void PrintLog() {
    for (const zanpro::LogLine& line : zanpro::TakeLog()) {
        std::string text = line.text;
        for (std::size_t at = text.find(portName); !portName.empty() && at != std::string::npos;
             at = text.find(portName, at))
            text.replace(at, portName.size(), "<port>");
        std::printf("    [%d] %s\n", static_cast<int>(line.level), text.c_str());
    }
}

void Result(const char* what, int32_t result) {
    std::printf("%s -> %d\n", what, static_cast<int>(result));
    if (result != KOR_OK) ++failures;
    PrintLog();
}

struct Gate {
    const char* address;
    int32_t valueKind;
    int32_t words[5];
};

void Parse(Gate& gate) {
    ParseParams params{};
    params.Address = gate.address;
    params.ValueKind = gate.valueKind;
    const int32_t result = Call(KOR_FUNC_SINGLE_PARSE, &params);
    gate.words[0] = params.plcNum;
    gate.words[1] = params.AccessClass;
    gate.words[2] = params.Reserved1;
    gate.words[3] = params.Reserved2;
    gate.words[4] = params.Reserved3;
    std::string what = std::string("parse ") + gate.address;
    Result(what.c_str(), result);
}

GateParams Params(const Gate& gate, void* value) {
    GateParams params{};
    params.Address = gate.address;
    params.plcNum = gate.words[0];
    params.AccessClass = gate.words[1];
    params.Recorded5 = gate.words[2];
    params.Recorded6 = gate.words[3];
    params.Recorded7 = gate.words[4];
    params.ValueKind = gate.valueKind;
    params.Value = value;
    return params;
}

void Read(const Gate& gate) {
    std::array<char, 64> text{};
    KorNumberValue number{0, 0xFFFF};
    GateParams params =
        Params(gate, gate.valueKind == KOR_VALUE_TEXT ? static_cast<void*>(text.data()) : &number);
    const int32_t result = Call(KOR_FUNC_SINGLE_READ, &params);
    if (gate.valueKind == KOR_VALUE_TEXT)
        std::printf("read %s = \"%s\"\n", gate.address, text.data());
    else
        std::printf("read %s = %u\n", gate.address, static_cast<unsigned>(number.Number));
    Result("  result", result);
}

void WriteNumber(const Gate& gate, uint16_t value) {
    KorNumberValue number{0, value};
    GateParams params = Params(gate, &number);
    std::printf("write %s = %u\n", gate.address, static_cast<unsigned>(value));
    Result("  result", Call(KOR_FUNC_SINGLE_WRITE, &params));
}

void WriteText(const Gate& gate, const char* value) {
    std::string text = value;
    GateParams params = Params(gate, text.data());
    std::printf("write %s = \"%s\"\n", gate.address, value);
    Result("  result", Call(KOR_FUNC_SINGLE_WRITE, &params));
}

// The companion gates of multiplexer 1, as the host registered them.
std::vector<uint32_t> Companions(const char* word) {
    std::vector<uint32_t> ids;
    for (int camera = 21; camera <= 40; ++camera) {
        const std::string address = word + std::to_string(100 + camera);
        ids.push_back(zanpro::AddGate(kInstance, address));
    }
    return ids;
}

void PrintCompanions(const char* word, const std::vector<uint32_t>& ids) {
    std::printf("  %s121..%s140:", word, word);
    for (const uint32_t id : ids) {
        const auto value = zanpro::GateValue(id);
        if (value)
            std::printf(" %g", *value);
        else
            std::printf(" -");
    }
    std::printf("\n");
}

void PrintText(const char* address, uint32_t id) {
    const auto text = zanpro::GateText(id);
    std::printf("  %s = %s\n", address, text ? ("\"" + *text + "\"").c_str() : "-");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: line_host PORT\n");
        return 2;
    }
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);  // the transcript's lines end as on Linux
#endif
    portName = argv[1];
    zanpro::SetLogSink([](int32_t, std::string_view) {});
    zanpro::ShowTraces(false);

    const std::vector<uint32_t> sac = Companions("SAC");
    const std::vector<uint32_t> svc = Companions("SVC");
    const uint32_t tas123 = zanpro::AddGate(kInstance, "TAS123");
    const uint32_t tas121 = zanpro::AddGate(kInstance, "TAS121");

    InitParams init{};
    portName.copy(init.PortName, sizeof init.PortName - 1);
    init.OpenRequested = 1;
    init.PollInterval = kPollInterval;
    init.BaudRate = 9600;
    init.DataBits = 8;
    Result("Init", Call(KOR_FUNC_INIT, &init));

    Gate ver{"VER1", KOR_VALUE_TEXT, {}}, tad{"TAD1", KOR_VALUE_TEXT, {}};
    Gate aas{"AAS1", KOR_VALUE_NUMBER, {}}, vls{"VLS1", KOR_VALUE_NUMBER, {}};
    Gate als123{"ALS123", KOR_VALUE_NUMBER, {}}, als121{"ALS121", KOR_VALUE_NUMBER, {}};
    Gate key{"KEY1", KOR_VALUE_NUMBER, {}}, preset{"PRESET1", KOR_VALUE_TEXT, {}};
    Gate inhpair{"INHPAIR1", KOR_VALUE_TEXT, {}};
    for (Gate* gate : {&ver, &tad, &aas, &vls, &als123, &als121, &key, &preset, &inhpair})
        Parse(*gate);

    Read(ver);
    Read(tad);
    Read(aas);
    PrintCompanions("SAC", sac);
    Read(vls);
    PrintCompanions("SVC", svc);
    Read(als123);
    PrintText("TAS123", tas123);
    Read(als121);
    PrintText("TAS121", tas121);

    WriteNumber(key, 53);
    WriteText(preset, "(9,13)");
    WriteText(inhpair, "(48,49,50,51,52,53)");
    WriteText(tad, "(31,12,2000,23,59,59)");
    Read(tad);

    Result("Exit", Call(KOR_FUNC_EXIT, nullptr));
    std::printf("failures %d\n", failures);
    return failures == 0 ? 0 : 1;
}
