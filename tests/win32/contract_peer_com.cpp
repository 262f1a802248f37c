// The contract's device for the Win32 backend: the far end of a null-modem cable
// between two COM ports, on wall-clock time. RODERAVO_TEST_PORT names the port
// under test, RODERAVO_TEST_PEER the far end (under wine, two pseudo-terminals
// joined by tests/win32/null_modem and mapped as COM ports by the harness).
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <chrono>
#include <cstdlib>

#include "serial/contract_peer.h"

namespace contract_test {

namespace {

bool UnderWine() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

ContractPeer::Differences DifferencesHere() {
    ContractPeer::Differences differences;
    differences.takesDtrHandshake = true;
    differences.cannotVanish = true;
    if (UnderWine()) {
        differences.takesASecondOpen = true;
        differences.readsControlLinesOn = true;
        differences.readsSomeSpeedsAs38400 = true;
        differences.takesOneAndAHalfStopBits = true;
        differences.takesSpeedZero = true;
    }
    return differences;
}

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

struct LaterSend {
    HANDLE port;
    DWORD milliseconds;
    Bytes bytes;
};

bool WriteAll(HANDLE port, const Bytes& bytes) {
    DWORD written = 0;
    return WriteFile(port, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) !=
               FALSE &&
           written == bytes.size();
}

DWORD WINAPI SendLater(void* parameter) {
    const LaterSend* later = static_cast<const LaterSend*>(parameter);
    Sleep(later->milliseconds);
    WriteAll(later->port, later->bytes);
    return 0;
}

}  // namespace

// A pseudo-terminal under wine reports 8 data bits without parity; a COM port on
// Windows keeps them.
const bool ContractPeer::kKeepsCharacterFormat = !UnderWine();
const bool ContractPeer::kExactTime = false;
const ContractPeer::Differences ContractPeer::kDifferences = DifferencesHere();

struct ContractPeer::Device {
    std::string portName = Env("RODERAVO_TEST_PORT");
    HANDLE peer = INVALID_HANDLE_VALUE;
    std::vector<HANDLE> threads;
    std::vector<std::unique_ptr<LaterSend>> sends;
};

ContractPeer::ContractPeer() : device_(std::make_unique<Device>()) {
    const std::string peerName = Env("RODERAVO_TEST_PEER");
    if (device_->portName.empty() || peerName.empty()) return;
    const HANDLE port = CreateFileA(peerName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (port == INVALID_HANDLE_VALUE) return;
    DCB line{};
    line.DCBlength = sizeof line;
    if (GetCommState(port, &line) == FALSE) {
        CloseHandle(port);
        return;
    }
    line.BaudRate = 9600;
    line.ByteSize = 8;
    line.Parity = NOPARITY;
    line.StopBits = ONESTOPBIT;
    line.fBinary = 1;
    line.fOutX = 0;
    line.fInX = 0;
    SetCommState(port, &line);
    PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR);  // what an earlier case left on the line
    device_->peer = port;
}

ContractPeer::~ContractPeer() {
    for (const HANDLE thread : device_->threads) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    if (device_->peer != INVALID_HANDLE_VALUE) CloseHandle(device_->peer);
}

bool ContractPeer::Ok() const {
    return device_->peer != INVALID_HANDLE_VALUE;
}

std::string ContractPeer::PortName() const {
    return device_->portName;
}

bool ContractPeer::Send(const Bytes& bytes) {
    return WriteAll(device_->peer, bytes);
}

void ContractPeer::SendAfter(int milliseconds, const Bytes& bytes) {
    device_->sends.push_back(std::make_unique<LaterSend>(
        LaterSend{device_->peer, static_cast<DWORD>(milliseconds), bytes}));
    const HANDLE thread =
        CreateThread(nullptr, 0, SendLater, device_->sends.back().get(), 0, nullptr);
    if (thread != nullptr) device_->threads.push_back(thread);
}

Bytes ContractPeer::Receive(std::size_t count) {
    Bytes got(count);
    COMMTIMEOUTS timeouts{0, 0, 2000, 0, 0};
    SetCommTimeouts(device_->peer, &timeouts);
    DWORD total = 0;
    while (total < count) {
        DWORD n = 0;
        if (ReadFile(device_->peer, got.data() + total, static_cast<DWORD>(count - total), &n,
                     nullptr) == FALSE ||
            n == 0)
            break;
        total += n;
    }
    got.resize(total);
    return got;
}

void ContractPeer::Vanish() {}  // see Differences::cannotVanish

int64_t ContractPeer::NowMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace contract_test
