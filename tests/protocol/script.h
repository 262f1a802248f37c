// The script of a scripted multiplexer, the same for the peer on a
// pseudo-terminal and the one on the fake port: steps of request size and
// answer, and the frames the answers are made of.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "support/frame_bytes.h"

namespace protocol_test {

using Bytes = std::vector<uint8_t>;
using roderavo_test::Checksum;  // over every byte given, 0xFF left out
using roderavo_test::Hex;

struct Step {
    std::size_t requestSize;  // bytes to read before answering
    Bytes reply;              // empty: no answer
    uint32_t delayMs = 0;     // how long after the request the reply leaves
};

// Frames, written out here byte by byte so that no driver routine checks itself.
using roderavo_test::Acknowledgement;  // FF 07 F0 04 source 10 status checksum
using roderavo_test::StatusReply;      // FF L F0 command source 10 payload checksum

}  // namespace protocol_test
