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

// Init on a port at 9600 8N1; pollInterval in units of 10 ms sets the read time-out.
inline InitParams MakeInitParams(const std::string& port, int32_t pollInterval,
                                 uint32_t openRequested = 1) {
    InitParams params{};
    PutName(params.PortName, port);
    params.OpenRequested = openRequested;
    params.PollInterval = pollInterval;
    params.BaudRate = 9600;
    params.DataBits = 8;
    params.StopBits = 0;
    params.Parity = 0;
    return params;
}

}  // namespace roderavo_test
