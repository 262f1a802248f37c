// roderavo simulate on Windows: the simulator serves a pseudo-terminal, which
// Windows has not; it says so.
#include "commands.h"

namespace roderavo::tool {

int RunSimulate(const CommonOptions&, const SimulateOptions&) {
    Complain(kNoSimulator);
    return kExitRefused;
}

}  // namespace roderavo::tool
