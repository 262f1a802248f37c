// Takes request frames out of the byte stream of the line. It resynchronises on the
// start byte 0xFF: bytes before a start byte are noise, a length byte that cannot form a
// frame drops its start byte, and a complete frame with a wrong checksum is reported and
// scanning goes on right after its start byte, so a good frame hidden behind noise is
// still found.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "frame.h"

namespace muxsim {

struct TakenFrame {
    Bytes bytes;
    bool checksumOk = false;
};

class FrameReader {
  public:
    // Adds bytes from the line and returns the frames they complete, in order.
    std::vector<TakenFrame> Feed(std::span<const uint8_t> bytes);
    // The line went quiet with a frame unfinished: its start byte was noise.
    std::vector<TakenFrame> Expire();
    bool Partial() const { return !buffer_.empty(); }
    // How many more bytes the unfinished frame needs at least (0 when none is).
    std::size_t Missing() const;
    // Bytes dropped as noise so far (not those of reported frames).
    std::size_t Discarded() const { return discarded_; }

  private:
    std::vector<TakenFrame> Scan();
    bool CompleteGoodFrameAt(std::size_t start) const;
    void Drop(std::size_t count);

    Bytes buffer_;
    std::size_t discarded_ = 0;
};

}  // namespace muxsim
