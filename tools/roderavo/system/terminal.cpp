// What the terminal's files of both platforms share.
#include "system/terminal.h"

namespace roderavo::tool {

std::string CutToWidth(const std::string& line, std::size_t width) {
    std::string out;
    std::size_t visible = 0;
    bool cut = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\x1b') {  // an escape sequence takes no column: keep it whole
            const std::size_t end = line.find_first_of("ABCDEFGHJKSTfmhl", i + 1);
            const std::size_t last = end == std::string::npos ? line.size() - 1 : end;
            out.append(line, i, last - i + 1);
            i = last;
            continue;
        }
        // UTF-8 continuation bytes belong to the character before them.
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
            if (visible == width) cut = true;
            if (!cut) ++visible;
        }
        if (!cut) out += c;
    }
    return out;
}

}  // namespace roderavo::tool
