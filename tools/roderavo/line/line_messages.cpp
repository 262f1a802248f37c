#include "line/line_messages.h"

#include "roderavo/product.h"
#include "system/platform.h"

namespace roderavo::tool {

std::string Attempts() {
    return std::to_string(RODERAVO_ATTEMPTS) + " attempts";
}

std::string LineFailureMessage(const std::string& action, const std::string& address, int plcNum,
                               const std::string& port, int pollIntervalMs, bool malformed,
                               int systemError) {
    const std::string mux = "multiplexer " + std::to_string(plcNum);
    if (systemError != 0)
        return action + " " + address + ": the port " + port + " failed (" +
               SystemErrorText(systemError) + ", " + Attempts() +
               "): check that the adapter is still plugged in and that nothing else closed "
               "the line";
    if (malformed)
        return action + " " + address + ": " + mux + " on port " + port +
               " answered, but not with a usable frame (" + Attempts() +
               "): check the line settings "
               "(--baud, --parity, --data-bits, --stop-bits must match the multiplexer), that "
               "no other device on the line uses address " +
               std::to_string(plcNum) + ", and the cable for noise";
    // The null device takes every frame and never answers, at once: no attempt waits.
    if (port == "NUL")
        return action + " " + address + ": no answer from " + mux +
               " on port NUL: the null device has no line, so nothing answers there; give the "
               "multiplexers' port with --port";
    return action + " " + address + ": no answer from " + mux + " on port " + port + " (" +
           Attempts() + ", " + std::to_string(pollIntervalMs) +
           " ms each): check that the multiplexer is switched on, set to address " +
           std::to_string(plcNum) + " and to the line settings given (" +
           "9600 8N1 unless --baud etc. say otherwise), and the cable (RS-232 TX/RX crossed); "
           "a longer --timeout gives a slow line more time";
}

}  // namespace roderavo::tool
