// roderavo tagformat: the driver's Tag Format dialog (function 16), which the driver
// shows on the controlling terminal, and the address composed in it.
#include <iostream>

#include "commands/commands.h"
#include "output/json_out.h"
#include "output/text.h"

namespace roderavo::tool {

int RunTagFormat(const CommonOptions& options) {
    Session session;
    int exitCode = kExitOk;
    if (!session.LoadDriver(options, &exitCode)) return exitCode;
    std::string address;
    const int32_t status = session.driver().TagFormat(&address);
    if (options.json) {
        PrintJsonLine({{"driver", session.driver().Path()},
                       {"result", status},
                       {"address", status == KOR_OK ? Json(address) : Json(nullptr)}});
    } else if (status == KOR_OK) {
        std::cout << address << "\n";
    }
    if (status == KOR_OK) return kExitOk;
    if (!options.json)
        Complain("no address (result " + std::to_string(status) +
                 "): the Tag Format dialog was cancelled, or could not be shown (it needs a "
                 "controlling terminal of at least 64 columns and 18 lines)");
    return kExitRefused;
}

}  // namespace roderavo::tool
