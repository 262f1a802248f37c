#include "protocol/status_request.h"

#include "address/address_fields.h"
#include "protocol/checksum.h"
#include "protocol/command_table.h"

namespace roderavo {

StatusRequest BuildStatusRequest(const Gate& gate) {
    StatusRequest request;
    if (!gate.word) return request;
    for (const StatusCommand& command : kStatusCommands) {
        if (command.mnemonic != *gate.word) continue;
        const uint8_t code = CommandCode(command.mnemonic);
        const uint32_t mux = MuxDigitValue(command.mnemonic, gate.address);
        auto& frame = request.frame;
        frame[kPosStart] = kStartByte;
        frame[kPosLength] = command.lengthByte;
        frame[kPosDestination] = static_cast<uint8_t>(MuxAddress(mux));
        frame[kPosCommand] = code;
        frame[kPosSource] = kStatusSource;
        frame[kPosMarker] = kMarkerByte;
        if (command.cameraPayload)
            frame[kPosPayload] =
                static_cast<uint8_t>(CameraFieldValue(command.mnemonic, gate.address));
        frame[command.lengthByte] = ComputeChecksum(frame, command.lengthByte);
        request.size = static_cast<uint16_t>(command.lengthByte + 1);
        request.command = code;
        return request;
    }
    return request;
}

}  // namespace roderavo
