/* A host in C: reads the alarm states of the twenty cameras of multiplexer 1
 * (AAS1), then the alarm report of each camera in alarm (ALS1cc with TAS1cc).
 * Usage: host PORT, e.g. host ttyUSB0 or host pts/4 (muxsim). */
#include <stdio.h>
#include <string.h>

#include <roderavo/kor.h>
#include <zanpro/zanpro_host.h>

enum { kInstance = 1, kMux = 1, kFirstCamera = 20 * kMux + 1, kCameras = 20 };

static DriverContext context; /* kept for the life of the instance */

static int32_t Call(uint32_t function, void* params) {
    KorCall call;
    memset(&call, 0, sizeof call);
    call.Context = &context;
    call.FunctionNumber = function;
    call.InstanceNumber = kInstance;
    call.Params = params;
    return KorMain(&call);
}

/* Parses a number gate and reads it; the words the parse recorded go with the read. */
static int32_t ReadNumber(const char* address, uint16_t* number) {
    ParseParams parse;
    GateParams gate;
    KorNumberValue value;
    memset(&parse, 0, sizeof parse);
    parse.Address = address;
    parse.ValueKind = KOR_VALUE_NUMBER;
    int32_t result = Call(KOR_FUNC_SINGLE_PARSE, &parse);
    if (result != KOR_OK) return result;
    memset(&gate, 0, sizeof gate);
    memset(&value, 0, sizeof value);
    gate.Address = address;
    gate.plcNum = parse.plcNum;
    gate.AccessClass = parse.AccessClass;
    gate.Recorded5 = parse.Reserved1;
    gate.Recorded6 = parse.Reserved2;
    gate.Recorded7 = parse.Reserved3;
    gate.ValueKind = KOR_VALUE_NUMBER;
    gate.Value = &value;
    result = Call(KOR_FUNC_SINGLE_READ, &gate);
    *number = value.Number;
    return result;
}

/* The driver's log lines: level 8 traces, 32 events and errors. */
static void PrintEvent(int32_t level, const char* text, size_t length, void* context) {
    (void)length;
    (void)context;
    if (level > 8) printf("log: %s\n", text);
}

int main(int argc, char** argv) {
    uint32_t states[kCameras];
    char name[16];
    uint16_t number = 0;
    if (argc != 2) {
        fprintf(stderr, "usage: host PORT\n");
        return 2;
    }

    /* The companion gates that the reads fill: SAC1cc (AAS1) and TAS1cc (ALS1cc). */
    for (int i = 0; i < kCameras; ++i) {
        snprintf(name, sizeof name, "SAC%d%02d", kMux, kFirstCamera + i);
        states[i] = ZanHostAddGate(kInstance, name);
        snprintf(name, sizeof name, "TAS%d%02d", kMux, kFirstCamera + i);
        ZanHostAddGate(kInstance, name);
    }

    InitParams init;
    memset(&init, 0, sizeof init);
    strncpy(init.PortName, argv[1], sizeof init.PortName - 1);
    init.OpenRequested = 1;
    init.PollInterval = 20; /* 10 ms units: a read time-out of 200 ms */
    init.BaudRate = 9600;
    init.DataBits = 8;
    int32_t result = Call(KOR_FUNC_INIT, &init);

    snprintf(name, sizeof name, "AAS%d", kMux);
    if (result == KOR_OK) result = ReadNumber(name, &number);
    if (result == KOR_OK) printf("%s = %u\n", name, (unsigned)number);
    for (int i = 0; result == KOR_OK && i < kCameras; ++i) {
        double state = 0;
        if (!ZanHostGateValue(states[i], &state) || state == 0) continue;
        printf("camera %d: state %.0f\n", kFirstCamera + i, state);
        snprintf(name, sizeof name, "ALS%d%02d", kMux, kFirstCamera + i);
        result = ReadNumber(name, &number);
        uint32_t report = 0;
        char text[64] = "";
        snprintf(name, sizeof name, "TAS%d%02d", kMux, kFirstCamera + i);
        if (result == KOR_OK && ZanHostFindGate(kInstance, name, &report) &&
            ZanHostGateText(report, text, sizeof text) != 0)
            printf("  %s: %s\n", name, text);
    }
    Call(KOR_FUNC_EXIT, NULL);

    /* What the driver logged, taken from the host library's kept lines. */
    ZanHostVisitLog(PrintEvent, NULL, 1);
    return result == KOR_OK ? 0 : 1;
}
