#include "frame_reader.h"

#include <algorithm>

namespace muxsim {

namespace {

bool LengthPossible(uint8_t length) {
    return length >= kMinLength && length <= kMaxLength;
}

}  // namespace

std::vector<TakenFrame> FrameReader::Feed(std::span<const uint8_t> bytes) {
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
    return Scan();
}

std::vector<TakenFrame> FrameReader::Expire() {
    if (!buffer_.empty()) Drop(1);
    return Scan();
}

std::size_t FrameReader::Missing() const {
    if (buffer_.empty()) return 0;
    if (buffer_.size() < 2) return kMinLength;  // the shortest frame's rest
    const std::size_t whole = std::size_t{buffer_[1]} + 1;
    return whole > buffer_.size() ? whole - buffer_.size() : 1;
}

void FrameReader::Drop(std::size_t count) {
    count = std::min(count, buffer_.size());
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(count));
    discarded_ += count;
}

bool FrameReader::CompleteGoodFrameAt(std::size_t start) const {
    if (buffer_[start] != kStartByte || start + 1 >= buffer_.size()) return false;
    const uint8_t length = buffer_[start + 1];
    if (!LengthPossible(length) || start + length >= buffer_.size()) return false;
    return ChecksumOk(std::span<const uint8_t>(buffer_).subspan(start, std::size_t{length} + 1));
}

std::vector<TakenFrame> FrameReader::Scan() {
    std::vector<TakenFrame> frames;
    for (;;) {
        const auto start = std::find(buffer_.begin(), buffer_.end(), kStartByte);
        Drop(static_cast<std::size_t>(start - buffer_.begin()));
        if (buffer_.size() < 2) break;
        const uint8_t length = buffer_[1];
        if (!LengthPossible(length)) {
            Drop(1);
            continue;
        }
        if (buffer_.size() > length) {
            TakenFrame frame;
            frame.bytes.assign(buffer_.begin(), buffer_.begin() + length + 1);
            frame.checksumOk = ChecksumOk(frame.bytes);
            // A good frame is consumed whole; a bad one up to the next start byte in it,
            // where a good frame may hide. Neither counts as noise.
            auto end = buffer_.begin() + length + 1;
            if (!frame.checksumOk) end = std::find(buffer_.begin() + 1, end, kStartByte);
            buffer_.erase(buffer_.begin(), end);
            frames.push_back(std::move(frame));
            continue;
        }
        // Unfinished: a good frame starting later means this start byte was noise.
        std::size_t later = 1;
        while (later < buffer_.size() && !CompleteGoodFrameAt(later)) ++later;
        if (later == buffer_.size()) break;
        Drop(later);
    }
    return frames;
}

}  // namespace muxsim
