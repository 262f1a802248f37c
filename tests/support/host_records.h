// The records a host fills in for the driver, as the tests fill them.
#pragma once

#include <roderavo/kor.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace roderavo_test {

// A fixed name field: the name cut to fit, zero-filled behind it.
template <std::size_t N>
void PutName(char (&field)[N], const std::string& name) {
    std::memset(field, 0, N);
    std::memcpy(field, name.data(), std::min(name.size(), N - 1));
}

// Init on a port at `baud` 8N1; pollInterval in units of 10 ms sets the read time-out.
inline InitParams MakeInitParams(const std::string& port, int32_t pollInterval,
                                 uint32_t openRequested = 1, uint16_t baud = 9600) {
    InitParams params{};
    PutName(params.PortName, port);
    params.OpenRequested = openRequested;
    params.PollInterval = pollInterval;
    params.BaudRate = baud;
    params.DataBits = 8;
    params.StopBits = 0;
    params.Parity = 0;
    return params;
}

// One call of KorMain on a driver instance, as a host makes it.
inline int32_t CallDriver(DriverContext& context, uint32_t function, int32_t instance,
                          void* params) {
    KorCall call{};
    call.Context = &context;
    call.FunctionNumber = function;
    call.InstanceNumber = instance;
    call.Params = params;
    return KorMain(&call);
}

// A gate's record as SingleParse leaves it.
inline GateParams MakeGateParams(const char* address, int32_t plcNum, int32_t accessClass,
                                 int32_t valueKind, void* value) {
    GateParams gate{};
    gate.Address = address;
    gate.plcNum = plcNum;
    gate.AccessClass = accessClass;
    gate.Recorded5 = 0;
    gate.Recorded6 = -1;
    gate.Recorded7 = 16;
    gate.ValueKind = valueKind;
    gate.Value = value;
    return gate;
}

}  // namespace roderavo_test
