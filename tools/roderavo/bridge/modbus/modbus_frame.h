// Modbus TCP frames as the face takes them: cut from a connection's bytes by the MBAP
// header's length (never by what the function code would imply), and each request
// read into what it asks, with the exception a malformed one gets. Pure functions over
// bytes: no socket, no map.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace roderavo::tool::bridge {

inline constexpr std::size_t kMbapLength = 7;    // transaction, protocol, length, unit
inline constexpr std::size_t kLongestAdu = 260;  // the MBAP header and a PDU of 253
inline constexpr uint8_t kReadHoldingRegisters = 3;
inline constexpr uint8_t kReadDiscreteInputs = 2;
inline constexpr uint8_t kReadInputRegisters = 4;
inline constexpr uint8_t kWriteRegister = 6;
inline constexpr uint8_t kWriteRegisters = 16;
inline constexpr int kMostBits = 2000;      // of one read of discrete inputs
inline constexpr int kMostRegisters = 125;  // of one read of registers
inline constexpr int kMostWritten = 123;    // registers of one write

// What the front of a connection's bytes holds: a whole frame of `length` bytes, not
// yet a whole frame, or bytes that are no Modbus TCP frame (the connection cannot be
// read further: `why` says what).
struct FrameCut {
    enum class Kind { kIncomplete, kFrame, kBad } kind = Kind::kIncomplete;
    std::size_t length = 0;
    std::string why;
};
FrameCut CutFrame(std::span<const uint8_t> bytes);

// A request's PDU read: the function, the first address and count, the values of a
// write; or the exception it is answered with (01 for a function the face does not
// serve, 03 for a request whose lengths or count do not agree).
struct ModbusRequest {
    uint8_t function = 0;
    int address = 0;
    int count = 0;
    std::vector<uint16_t> values;
    uint8_t exception = 0;
    bool IsWrite() const { return function == kWriteRegister || function == kWriteRegisters; }
};
ModbusRequest ReadRequest(std::span<const uint8_t> pdu);

// The answers, each a whole frame under the request's MBAP header (transaction and
// unit kept, the length set): the values of a read (bits packed, registers high byte
// first), the echo of a write, or an exception.
std::vector<uint8_t> ReadAnswer(std::span<const uint8_t> request, bool bits,
                                const std::vector<uint16_t>& values);
std::vector<uint8_t> WriteAnswer(std::span<const uint8_t> request);
std::vector<uint8_t> ExceptionAnswer(std::span<const uint8_t> request, uint8_t exception);

}  // namespace roderavo::tool::bridge
