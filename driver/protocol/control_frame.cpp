#include "protocol/control_frame.h"

#include "address/address_fields.h"
#include "address/address_text.h"
#include "protocol/checksum.h"

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

bool BuilderTakesAddress(const Gate& gate) {
    return gate.address.size() <= kBuilderAddressLimit;
}

std::string_view ValueText(const Gate& gate) {
    return BoundedText(gate.value.text, kValueTextLimit);
}

uint8_t DigitMuxAddress(const Gate& gate) {
    if (!gate.word) return static_cast<uint8_t>(MuxAddress(0));
    return static_cast<uint8_t>(MuxAddress(MuxDigitValue(*gate.word, gate.address)));
}

}  // namespace roderavo
