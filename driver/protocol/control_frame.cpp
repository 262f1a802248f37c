#include "control_frame.h"

#include "checksum.h"
#include "gate_value.h"

namespace roderavo {

uint16_t FillControlFrame(RequestBuffer& frame, uint8_t muxAddress, uint8_t command,
                          std::span<const uint8_t> payload) {
    frame.fill(0);
    if (payload.size() > kRequestBufferSize - kPosPayload - 1) return 0;  // never built
    const auto length = static_cast<uint8_t>(kPosPayload + payload.size());
    frame[kPosStart] = kStartByte;
    frame[kPosLength] = length;
    frame[kPosDestination] = muxAddress;
    frame[kPosCommand] = command;
    frame[kPosSource] = kControlSource;
    frame[kPosMarker] = kMarkerByte;
    for (std::size_t i = 0; i < payload.size(); ++i) frame[kPosPayload + i] = payload[i];
    frame[length] = ComputeChecksum(frame, length);
    return static_cast<uint16_t>(length + 1);
}

std::string_view BuilderAddress(const GateParams& gate) {
    return BoundedText(gate.Address, kBuilderAddressLimit);
}

std::string_view ValueText(const GateParams& gate) {
    return BoundedText(static_cast<const char*>(gate.Value), kValueTextLimit);
}

uint8_t DigitMuxAddress(std::string_view address, std::size_t position) {
    return static_cast<uint8_t>(MuxAddress(DecimalAt(address, position, 1)));
}

}  // namespace roderavo
