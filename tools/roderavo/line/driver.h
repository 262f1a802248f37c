// The driver as the tool sees it: libroderavo.so (RODERAVO.DLL) loaded by file name, reached only
// through KorMain, with one instance (DriverContext) on one line.
#pragma once

#include <roderavo/kor.h>

#include <cstdint>
#include <string>

namespace roderavo::tool {

// Where the driver is looked for: the installed location next to the program
// ($ORIGIN/../lib/libroderavo.so.1), then the build tree.
std::string DefaultDriverPath();

struct LineSettings {
    std::string portName;  // as the driver takes it: at most 11 characters
    uint16_t baudRate = 9600;
    uint16_t dataBits = 8;
    uint16_t stopBits = 0;       // 0 one, 1 one and a half, 2 two
    uint16_t parity = 0;         // 0 none, 1 odd, 2 even, 3 mark, 4 space
    int32_t pollInterval = 100;  // units of 10 ms, as the host configures it
};

struct ParseResult {
    int32_t status = KOR_REFUSED;
    int32_t plcNum = 0;
    int32_t accessClass = 0;
};

class Driver {
  public:
    Driver() = default;
    ~Driver();
    Driver(const Driver&) = delete;
    Driver& operator=(const Driver&) = delete;

    // Loads the library; on failure `error` says why.
    bool Load(const std::string& path, std::string* error);
    const std::string& Path() const { return path_; }

    int32_t GetInfo(DriverInfo* info);
    ParseResult Parse(const std::string& address, int32_t valueKind);
    // The Tag Format dialog (function 16): the composed address on KOR_OK.
    int32_t TagFormat(std::string* address);

    int32_t Init(int32_t instance, const LineSettings& settings);
    bool Initialised() const { return initialised_; }
    int32_t Exit();

    // A read or write of a gate that Parse accepted. For a number gate `number`
    // carries the value, for a text gate `text` (a read fills them).
    struct Gate {
        std::string address;
        int32_t valueKind = KOR_VALUE_NUMBER;
        ParseResult parse;
    };
    int32_t Read(const Gate& gate, uint16_t* number, std::string* text);
    int32_t Write(const Gate& gate, uint16_t number, const std::string& text);

    // After a call that failed on the line (KOR_COMM_FAILURE): the system's error
    // the driver left (errno, GetLastError); 0 after any other result.
    int LastSystemError() const { return lastSystemError_; }

    int32_t Instance() const { return instance_; }
    void SetInstance(int32_t instance) { instance_ = instance; }

  private:
    int32_t Call(KorFunction function, void* params);

    void* handle_ = nullptr;
    int32_t (*korMain_)(KorCall*) = nullptr;
    std::string path_;
    DriverContext context_{};
    int32_t instance_ = 0;
    bool initialised_ = false;
    int lastSystemError_ = 0;
};

}  // namespace roderavo::tool
