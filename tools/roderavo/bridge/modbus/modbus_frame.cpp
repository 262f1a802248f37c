#include "bridge/modbus/modbus_frame.h"

namespace roderavo::tool::bridge {

namespace {

int Word(std::span<const uint8_t> bytes, std::size_t at) {
    return bytes[at] << 8 | bytes[at + 1];
}

// The request's MBAP header with its length set to `pdu` bytes and the unit id.
std::vector<uint8_t> Header(std::span<const uint8_t> request, std::size_t pdu) {
    std::vector<uint8_t> frame(request.begin(), request.begin() + kMbapLength);
    frame[4] = static_cast<uint8_t>((pdu + 1) >> 8);
    frame[5] = static_cast<uint8_t>((pdu + 1) & 0xFFU);
    return frame;
}

ModbusRequest Refused(uint8_t function, uint8_t exception) {
    ModbusRequest request;
    request.function = function;
    request.exception = exception;
    return request;
}

}  // namespace

FrameCut CutFrame(std::span<const uint8_t> bytes) {
    FrameCut cut;
    if (bytes.size() >= 4 && (bytes[2] != 0 || bytes[3] != 0)) {
        cut.kind = FrameCut::Kind::kBad;
        cut.why = "protocol id " + std::to_string(Word(bytes, 2)) + " is not Modbus";
        return cut;
    }
    if (bytes.size() < 6) return cut;
    // The length counts the unit id and the PDU: a function at least, and no PDU is
    // longer than 253 bytes.
    const auto length = static_cast<std::size_t>(Word(bytes, 4));
    if (length < 2 || length > kLongestAdu - 6) {
        cut.kind = FrameCut::Kind::kBad;
        cut.why = "MBAP length " + std::to_string(length) + " is no Modbus frame's";
        return cut;
    }
    if (bytes.size() < 6 + length) return cut;
    cut.kind = FrameCut::Kind::kFrame;
    cut.length = 6 + length;
    return cut;
}

ModbusRequest ReadRequest(std::span<const uint8_t> pdu) {
    const uint8_t function = pdu.empty() ? 0 : pdu[0];
    const bool read = function == kReadDiscreteInputs || function == kReadInputRegisters ||
                      function == kReadHoldingRegisters;
    if (!read && function != kWriteRegister && function != kWriteRegisters)
        return Refused(function, 0x01);
    // Function, address and a count or value: five bytes; function 16 has more.
    if (pdu.size() < 5 || (function != kWriteRegisters && pdu.size() != 5))
        return Refused(function, 0x03);
    ModbusRequest request;
    request.function = function;
    request.address = Word(pdu, 1);
    request.count = Word(pdu, 3);
    if (read) {
        const int most = function == kReadDiscreteInputs ? kMostBits : kMostRegisters;
        if (request.count < 1 || request.count > most) return Refused(function, 0x03);
        return request;
    }
    if (function == kWriteRegister) {
        request.values.push_back(static_cast<uint16_t>(request.count));
        request.count = 1;
        return request;
    }
    // Function 16: the byte count agrees with the count and with what came.
    if (pdu.size() < 6 || request.count < 1 || request.count > kMostWritten ||
        pdu[5] != 2 * request.count || pdu.size() != 6 + std::size_t{pdu[5]})
        return Refused(function, 0x03);
    for (int i = 0; i < request.count; ++i)
        request.values.push_back(static_cast<uint16_t>(Word(pdu, 6 + 2 * std::size_t(i))));
    return request;
}

std::vector<uint8_t> ReadAnswer(std::span<const uint8_t> request, bool bits,
                                const std::vector<uint16_t>& values) {
    std::vector<uint8_t> data;
    if (bits) {
        data.assign((values.size() + 7) / 8, 0);
        for (std::size_t i = 0; i < values.size(); ++i)
            if (values[i] != 0) data[i / 8] |= static_cast<uint8_t>(1U << (i % 8));
    } else {
        for (const uint16_t value : values) {
            data.push_back(static_cast<uint8_t>(value >> 8));
            data.push_back(static_cast<uint8_t>(value & 0xFFU));
        }
    }
    std::vector<uint8_t> frame = Header(request, 2 + data.size());
    frame.push_back(request[kMbapLength]);
    frame.push_back(static_cast<uint8_t>(data.size()));
    frame.insert(frame.end(), data.begin(), data.end());
    return frame;
}

std::vector<uint8_t> WriteAnswer(std::span<const uint8_t> request) {
    // Function 6 echoes its address and value; function 16 its address and count.
    std::vector<uint8_t> frame = Header(request, 5);
    frame.insert(frame.end(), request.begin() + kMbapLength, request.begin() + kMbapLength + 5);
    return frame;
}

std::vector<uint8_t> ExceptionAnswer(std::span<const uint8_t> request, uint8_t exception) {
    std::vector<uint8_t> frame = Header(request, 2);
    // A function code of 0x80 or above is no request's: its answer keeps it as it is.
    frame.push_back(static_cast<uint8_t>(request[kMbapLength] | 0x80U));
    frame.push_back(exception);
    return frame;
}

}  // namespace roderavo::tool::bridge
