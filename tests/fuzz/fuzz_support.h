// What the fuzz targets share: a reader over the fuzzed bytes, the driver called
// as a host calls it, and a stop with a message when the driver and the oracle
// disagree.
#pragma once

#include <roderavo/kor.h>
#include <zanpro/host.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace fuzz {

using Bytes = std::vector<uint8_t>;
using Log = std::vector<zanpro::LogLine>;

// The fuzzed bytes from the front; past the end every byte reads as 0.
class Reader {
  public:
    Reader(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool Empty() const { return at_ >= size_; }
    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    Bytes Take(std::size_t count) {
        Bytes bytes;
        while (count-- > 0 && !Empty()) bytes.push_back(data_[at_++]);
        return bytes;
    }
    std::string Rest() {
        std::string rest(reinterpret_cast<const char*>(data_ + at_), size_ - at_);
        at_ = size_;
        return rest;
    }

  private:
    const uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// Stops the run with what differed: libFuzzer then keeps the input that did it.
[[noreturn]] inline void Fail(const std::string& what) {
    std::fprintf(stderr, "oracle: %s\n", what.c_str());
    std::abort();
}

inline void Expect(bool holds, const std::string& what) {
    if (!holds) Fail(what);
}

inline std::string Show(const Log& log) {
    std::string text;
    for (const zanpro::LogLine& line : log)
        text += "\n  [" + std::to_string(line.level) + "] " + line.text;
    return text;
}

inline void ExpectLog(const Log& actual, const Log& expected) {
    if (actual != expected) Fail("log" + Show(actual) + "\nexpected" + Show(expected));
}

inline std::string Hex(const Bytes& bytes) {
    std::string text;
    char pair[4];
    for (const uint8_t byte : bytes) {
        std::snprintf(pair, sizeof pair, "%02X ", byte);
        text += pair;
    }
    return text;
}

inline constexpr int32_t kInstance = 2;

inline int32_t Call(DriverContext& context, uint32_t function, void* params) {
    KorCall call{&context, function, kInstance, 0, params};
    return KorMain(&call);
}

// "VERODI: Entered KorMain(), with function n-1", the first line of every call.
inline zanpro::LogLine Entered(uint32_t function) {
    return {8, "VERODI: Entered KorMain(), with function " + std::to_string(function - 1)};
}

// A fresh host whose log is kept, not printed.
inline void QuietHost() {
    zanpro::Reset();
    zanpro::SetLogSink([](int32_t, std::string_view) {});
    zanpro::KeepLog(true);
}

// The checksum of a frame: the bytes added, every 0xFF left out, negated.
inline uint8_t Checksum(const uint8_t* bytes, std::size_t count) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < count; ++i)
        if (bytes[i] != 0xFF) sum += bytes[i];
    return static_cast<uint8_t>(0x100 - (sum & 0xFF));
}

// The valid key codes of the multiplexer's keypad.
inline bool IsKeyCode(long code) {
    static constexpr int kCodes[] = {9,   13,  14,  32,  35,  36,  48,  49,  50,  51,  52,  53,
                                     54,  55,  56,  57,  68,  70,  71,  72,  75,  76,  77,  79,
                                     82,  83,  85,  97,  99,  101, 102, 104, 105, 106, 107, 110,
                                     112, 113, 114, 115, 118, 119, 121, 122, 203, 205};
    for (const int valid : kCodes)
        if (code == valid) return true;
    return false;
}

}  // namespace fuzz
