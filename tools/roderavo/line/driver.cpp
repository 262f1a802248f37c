#include "line/driver.h"

#include <array>
#include <cstring>
#include <filesystem>

#include "system/platform.h"

namespace roderavo::tool {

namespace {

void CopyPortName(char (&target)[12], const std::string& name) {
    std::memset(target, 0, sizeof target);
    std::memcpy(target, name.data(), std::min(name.size(), sizeof target - 1));
}

// The record of one gate read or write: a text gate takes text, the others number.
GateParams ParamsOf(const Driver::Gate& gate, char* text, KorNumberValue* number) {
    GateParams params{};
    params.Address = gate.address.c_str();
    params.plcNum = gate.parse.plcNum;
    params.AccessClass = gate.parse.accessClass;
    params.Recorded5 = 0;
    params.Recorded6 = -1;
    params.Recorded7 = 16;
    params.ValueKind = gate.valueKind;
    if (gate.valueKind == KOR_VALUE_TEXT)
        params.Value = text;
    else
        params.Value = number;
    return params;
}

}  // namespace

std::string DefaultDriverPath() {
    const auto installed =
        std::filesystem::path(ProgramDirectory()) / kDriverFolderFromProgram / kDriverFileName;
    std::error_code ec;
    if (std::filesystem::exists(installed, ec)) return installed.lexically_normal().string();
#ifdef RODERAVO_BUILD_TREE_DRIVER
    if (std::filesystem::exists(RODERAVO_BUILD_TREE_DRIVER, ec)) return RODERAVO_BUILD_TREE_DRIVER;
#endif
    return installed.lexically_normal().string();
}

Driver::~Driver() {
    if (initialised_) Exit();
    // The library stays loaded: its texts may still be referenced by the caller.
}

bool Driver::Load(const std::string& path, std::string* error) {
    path_ = path;
    std::string why;
    handle_ = LoadDriverLibrary(path, &why);
    if (handle_ == nullptr) {
        *error = "cannot load the driver " + path + ": " + why +
                 "\n  give its location with --driver PATH (it is " + kDriverFolderFromProgram +
                 "/" + kDriverFileName + " next to this program in an installation, or driver/" +
                 kDriverFileName + " of the build tree)";
        return false;
    }
    void* entry = LibrarySymbol(handle_, "KorMain");
    std::memcpy(&korMain_, &entry, sizeof korMain_);
    if (korMain_ == nullptr) {
        *error = path + " is not the roderavo driver: it has no KorMain";
        return false;
    }
    return true;
}

int32_t Driver::Call(KorFunction function, void* params) {
    KorCall call{};
    call.Context = &context_;
    call.FunctionNumber = function;
    call.InstanceNumber = instance_;
    call.Params = params;
    const int32_t result = korMain_(&call);
    // Taken at once: nothing may run between the driver's return and this.
    const int systemError = tool::LastSystemError();
    lastSystemError_ = result == KOR_COMM_FAILURE ? systemError : 0;
    return result;
}

int32_t Driver::GetInfo(DriverInfo* info) {
    *info = DriverInfo{};
    return Call(KOR_FUNC_GET_INFO, info);
}

int32_t Driver::TagFormat(std::string* address) {
    std::array<char, 16> buffer{};
    TagFormatParams params{buffer.data()};
    const int32_t status = Call(KOR_FUNC_TAG_FORMAT_DIALOG, &params);
    buffer.back() = '\0';
    *address = status == KOR_OK ? buffer.data() : "";
    return status;
}

ParseResult Driver::Parse(const std::string& address, int32_t valueKind) {
    ParseParams params{};
    params.Address = address.c_str();
    params.ValueKind = valueKind;
    ParseResult result;
    result.status = Call(KOR_FUNC_SINGLE_PARSE, &params);
    result.plcNum = params.plcNum;
    result.accessClass = params.AccessClass;
    return result;
}

int32_t Driver::Init(int32_t instance, const LineSettings& settings) {
    instance_ = instance;
    context_ = DriverContext{};
    InitParams params{};
    CopyPortName(params.PortName, settings.portName);
    params.OpenRequested = 1;
    params.PollInterval = settings.pollInterval;
    params.BaudRate = settings.baudRate;
    params.DataBits = settings.dataBits;
    params.StopBits = settings.stopBits;
    params.Parity = settings.parity;
    const int32_t status = Call(KOR_FUNC_INIT, &params);
    // Init creates the host client before it opens the port, so it needs an Exit
    // also when the port failed to open.
    initialised_ = status == KOR_OK || status == KOR_COMM_FAILURE;
    return status;
}

int32_t Driver::Exit() {
    if (!initialised_) return KOR_OK;
    initialised_ = false;
    return Call(KOR_FUNC_EXIT, nullptr);
}

int32_t Driver::Read(const Gate& gate, uint16_t* number, std::string* text) {
    std::array<char, 256> buffer{};
    KorNumberValue value{};
    GateParams params = ParamsOf(gate, buffer.data(), &value);
    const int32_t status = Call(KOR_FUNC_SINGLE_READ, &params);
    buffer.back() = '\0';
    if (number != nullptr) *number = value.Number;
    if (text != nullptr) *text = buffer.data();
    return status;
}

int32_t Driver::Write(const Gate& gate, uint16_t number, const std::string& text) {
    std::string textCopy = text;  // the host's buffer; the driver only reads it
    KorNumberValue value{};
    value.Number = number;
    GateParams params = ParamsOf(gate, textCopy.data(), &value);
    return Call(KOR_FUNC_SINGLE_WRITE, &params);
}

}  // namespace roderavo::tool
