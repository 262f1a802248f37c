// roderavo info: the driver's own description (GetInfo).
#include <iostream>

#include "commands/commands.h"
#include "output/json_out.h"
#include "output/text.h"

namespace roderavo::tool {

int RunInfo(const CommonOptions& options) {
    Session session;
    int exitCode = kExitOk;
    if (!session.LoadDriver(options, &exitCode)) return exitCode;
    DriverInfo info{};
    const int32_t status = session.driver().GetInfo(&info);
    const std::string name = info.DriverName != nullptr ? info.DriverName : "";
    const std::string banner = info.InfoBanner != nullptr ? Cp437ToUtf8(info.InfoBanner) : "";
    const char* stop[] = {"1", "1.5", "2"};
    const char* parity[] = {"none", "odd", "even", "mark", "space"};
    const std::string stopText = info.StopBits < 3 ? stop[info.StopBits] : "?";
    const std::string parityText = info.Parity < 5 ? parity[info.Parity] : "?";
    if (options.json) {
        PrintJsonLine({{"driver", session.driver().Path()},
                       {"result", status},
                       {"name", name},
                       {"banner", banner},
                       {"baud", info.BaudRate},
                       {"dataBits", info.DataBits},
                       {"parity", parityText},
                       {"stopBits", stopText},
                       {"words", {info.Word1, info.Word4, info.Word5, info.Word8}}});
    } else {
        std::cout << "driver    " << session.driver().Path() << "\n"
                  << "name      " << name << "\n"
                  << "defaults  " << info.BaudRate << " baud, " << info.DataBits
                  << " data bits, parity " << parityText << ", " << stopText << " stop bit"
                  << (info.StopBits == 0 ? "" : "s") << "\n"
                  << "words     " << info.Word1 << " " << info.Word4 << " " << info.Word5 << " "
                  << info.Word8 << "\n"
                  << banner;
        if (!banner.empty() && banner.back() != '\n') std::cout << '\n';
    }
    return status == KOR_OK ? kExitOk : kExitLine;
}

}  // namespace roderavo::tool
