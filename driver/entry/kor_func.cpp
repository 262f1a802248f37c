#include "kor_func.h"

namespace roderavo {

const std::array<KorOperation, kKorFuncSize> KorFunc = {
    Init,             // 1
    WarmStart,        // 2
    SingleParse,      // 3
    BlockParse,       // 4
    SingleRead,       // 5
    BlockRead,        // 6
    SingleWrite,      // 7
    nullptr,          // 8
    nullptr,          // 9
    BlockWrite,       // 10
    Exit,             // 11
    ClosePort,        // 12
    OpenPort,         // 13
    GetInfo,          // 14
    SetPort,          // 15
    TagFormatDialog,  // 16
    nullptr,          // 17
};

}  // namespace roderavo
