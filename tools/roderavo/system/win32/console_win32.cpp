// Console output on Windows. The tool writes UTF-8 (the banner's box, the
// multiplexers' texts); a console shows what is written to it byte by byte in its
// code page (437 or 850), so each byte of a box character would come out as a
// character of its own. When standard output or standard error is a console, its
// C++ stream writes through WriteConsoleW instead, as UTF-16, which every console
// shows as it is; the console's code page is left alone. Pipes and files keep the
// UTF-8 bytes.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <array>
#include <cstring>
#include <iostream>
#include <streambuf>
#include <string>

#include "system/platform.h"

namespace roderavo::tool {

namespace {

// The length of the text without an unfinished UTF-8 sequence at its end.
std::size_t WholeCharacters(const char* text, std::size_t size) {
    for (std::size_t back = 1; back <= 3 && back <= size; ++back) {
        const auto byte = static_cast<unsigned char>(text[size - back]);
        if ((byte & 0xC0U) == 0x80U) continue;  // a continuation byte: look further back
        const std::size_t length = byte >= 0xF0U ? 4 : byte >= 0xE0U ? 3 : byte >= 0xC0U ? 2 : 1;
        return length > back ? size - back : size;
    }
    return size;
}

class ConsoleBuffer : public std::streambuf {
  public:
    explicit ConsoleBuffer(HANDLE console) : console_(console) {
        setp(buffer_.data(), buffer_.data() + buffer_.size());
    }

  protected:
    int_type overflow(int_type c) override {
        if (!Write(false)) return traits_type::eof();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }
    int sync() override { return Write(true) ? 0 : -1; }

  private:
    // Writes what is buffered; an unfinished character stays for the next write
    // unless `all` (a flush).
    bool Write(bool all) {
        const auto size = static_cast<std::size_t>(pptr() - pbase());
        const std::size_t whole = all ? size : WholeCharacters(pbase(), size);
        bool written = true;
        if (whole > 0) {
            const int length = static_cast<int>(whole);
            std::wstring wide(static_cast<std::size_t>(length), L'\0');
            const int count = MultiByteToWideChar(CP_UTF8, 0, pbase(), length, wide.data(), length);
            for (int at = 0; written && at < count;) {
                DWORD done = 0;
                written = WriteConsoleW(console_, wide.data() + at, static_cast<DWORD>(count - at),
                                        &done, nullptr) != FALSE &&
                          done > 0;
                at += static_cast<int>(done);
            }
        }
        const std::size_t rest = size - whole;
        std::memmove(buffer_.data(), pbase() + whole, rest);
        setp(buffer_.data(), buffer_.data() + buffer_.size());
        pbump(static_cast<int>(rest));
        return written;
    }

    HANDLE console_;
    std::array<char, 1024> buffer_{};
};

void WriteThroughConsole(DWORD which, std::ostream& stream) {
    const HANDLE handle = GetStdHandle(which);
    DWORD mode = 0;
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || GetConsoleMode(handle, &mode) == 0)
        return;  // a pipe or a file
    stream.flush();
    // Never freed: the stream writes through it until the program's very end.
    stream.rdbuf(new ConsoleBuffer(handle));
}

}  // namespace

void PrepareConsole() {
    WriteThroughConsole(STD_OUTPUT_HANDLE, std::cout);
    WriteThroughConsole(STD_ERROR_HANDLE, std::cerr);
}

}  // namespace roderavo::tool
