#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "com_peer.h"

#include <cstdlib>

namespace roderavo_test {

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

}  // namespace

unsigned long __stdcall SendLaterThread(void* self) {
    auto* peer = static_cast<ComPeer*>(self);
    Sleep(peer->laterMs_);
    peer->Send(peer->laterBytes_);
    return 0;
}

bool UnderWine() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

ComPeer::ComPeer() : portName_(Env("RODERAVO_TEST_PORT")) {
    const std::string peerName = Env("RODERAVO_TEST_PEER");
    if (portName_.empty() || peerName.empty()) return;
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
    // Drop what an earlier test left on the line.
    PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR);
    peer_ = port;
}

ComPeer::~ComPeer() {
    JoinLater();
    if (peer_ != nullptr) CloseHandle(static_cast<HANDLE>(peer_));
}

bool ComPeer::Send(const Bytes& bytes) {
    DWORD written = 0;
    return peer_ != nullptr &&
           WriteFile(static_cast<HANDLE>(peer_), bytes.data(), static_cast<DWORD>(bytes.size()),
                     &written, nullptr) != FALSE &&
           written == bytes.size();
}

void ComPeer::SendAfter(std::chrono::milliseconds delay, const Bytes& bytes) {
    JoinLater();
    laterBytes_ = bytes;
    laterMs_ = static_cast<unsigned long>(delay.count());
    later_ = CreateThread(nullptr, 0, SendLaterThread, this, 0, nullptr);
}

void ComPeer::JoinLater() {
    if (later_ == nullptr) return;
    WaitForSingleObject(static_cast<HANDLE>(later_), INFINITE);
    CloseHandle(static_cast<HANDLE>(later_));
    later_ = nullptr;
}

Bytes ComPeer::Receive(std::size_t count, int timeoutMs) {
    Bytes got;
    if (peer_ == nullptr) return got;
    const HANDLE port = static_cast<HANDLE>(peer_);
    COMMTIMEOUTS timeouts{0, 0, static_cast<DWORD>(timeoutMs), 0, 0};
    SetCommTimeouts(port, &timeouts);
    got.resize(count);
    DWORD total = 0;
    while (total < count) {
        DWORD n = 0;
        if (ReadFile(port, got.data() + total, static_cast<DWORD>(count - total), &n, nullptr) ==
                FALSE ||
            n == 0)
            break;
        total += n;
    }
    got.resize(total);
    return got;
}

}  // namespace roderavo_test
