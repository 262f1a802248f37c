#include "entry/kor_func.h"

namespace roderavo {

namespace {

// The table by name, so that every operation sits at its function number.
constexpr std::array<KorOperation, kKorFuncSize> BuildKorFunc() {
    std::array<KorOperation, kKorFuncSize> table{};
    const auto put = [&table](KorFunction number, KorOperation operation) {
        table[static_cast<std::size_t>(number) - 1] = operation;
    };
    put(KOR_FUNC_INIT, Init);
    put(KOR_FUNC_WARM_START, WarmStart);
    put(KOR_FUNC_SINGLE_PARSE, SingleParse);
    put(KOR_FUNC_BLOCK_PARSE, BlockParse);
    put(KOR_FUNC_SINGLE_READ, SingleRead);
    put(KOR_FUNC_BLOCK_READ, BlockRead);
    put(KOR_FUNC_SINGLE_WRITE, SingleWrite);
    put(KOR_FUNC_BLOCK_WRITE, BlockWrite);
    put(KOR_FUNC_EXIT, Exit);
    put(KOR_FUNC_CLOSE_PORT, ClosePort);
    put(KOR_FUNC_OPEN_PORT, OpenPort);
    put(KOR_FUNC_GET_INFO, GetInfo);
    put(KOR_FUNC_SET_PORT, SetPort);
    put(KOR_FUNC_TAG_FORMAT_DIALOG, TagFormatDialog);
    return table;  // 8, 9 and 17 stay empty
}

}  // namespace

const std::array<KorOperation, kKorFuncSize> KorFunc = BuildKorFunc();

}  // namespace roderavo
