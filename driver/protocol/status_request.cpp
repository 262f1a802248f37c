#include "status_request.h"

#include "address/text_slice.h"
#include "checksum.h"
#include "command_table.h"
#include "gate_value.h"

namespace roderavo {

namespace {

constexpr std::size_t kMuxDigitPos = 4;
constexpr std::size_t kCameraPos = 5;
constexpr std::string_view kCamera100 = "100";

}  // namespace

uint32_t AddressCamera(std::string_view address) {
    if (address.size() >= kCameraPos - 1 + kCamera100.size() &&
        Slice(address, kCameraPos - 1, kCamera100.size()) == kCamera100)
        return 100;
    return DecimalAt(address, kCameraPos, 2);
}

StatusRequest BuildStatusRequest(const GateParams& gate) {
    StatusRequest request;
    const std::string_view address = BoundedText(gate.Address, kReadAddressLimit);
    for (const StatusCommand& command : kStatusCommands) {
        if (!StartsWithFolded(address, command.mnemonic)) continue;
        const uint32_t mux = DecimalAt(address, kMuxDigitPos, 1);
        auto& frame = request.frame;
        frame[kPosStart] = kStartByte;
        frame[kPosLength] = command.lengthByte;
        frame[kPosDestination] = static_cast<uint8_t>(MuxAddress(mux));
        frame[kPosCommand] = command.code;
        frame[kPosSource] = kStatusSource;
        frame[kPosMarker] = kMarkerByte;
        if (command.cameraPayload)
            frame[kPosPayload] = static_cast<uint8_t>(AddressCamera(address));
        frame[command.lengthByte] = ComputeChecksum(frame, command.lengthByte);
        request.size = static_cast<uint16_t>(command.lengthByte + 1);
        request.command = command.code;
        return request;
    }
    return request;
}

}  // namespace roderavo
