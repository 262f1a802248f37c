#include "mux_clock.h"

namespace muxsim {

namespace {

uint8_t ToBcd(int value) {
    return static_cast<uint8_t>(((value / 10) % 10) * 16 + value % 10);
}

std::optional<int> FromBcd(uint8_t byte) {
    const int high = byte >> 4;
    const int low = byte & 0x0F;
    if (high > 9 || low > 9) return std::nullopt;
    return high * 10 + low;
}

}  // namespace

ClockBytesArray EncodeClock(const std::tm& time) {
    const int year = time.tm_year + 1900;
    return {ToBcd(year % 100),   ToBcd(year / 100),       ToBcd(time.tm_mon + 1),
            ToBcd(time.tm_mday), ToBcd(time.tm_wday + 1), ToBcd(time.tm_hour),
            ToBcd(time.tm_min),  ToBcd(time.tm_sec)};
}

std::optional<std::tm> DecodeClock(const ClockBytesArray& bytes) {
    std::array<int, 8> value{};
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4) continue;  // the day of week follows from the date
        const auto decoded = FromBcd(bytes[i]);
        if (!decoded) return std::nullopt;
        value[i] = *decoded;
    }
    std::tm time{};
    time.tm_year = value[1] * 100 + value[0] - 1900;
    time.tm_mon = value[2] - 1;
    time.tm_mday = value[3];
    time.tm_hour = value[5];
    time.tm_min = value[6];
    time.tm_sec = value[7];
    if (time.tm_mon < 0 || time.tm_mon > 11 || time.tm_mday < 1 || time.tm_hour > 23 ||
        time.tm_min > 59 || time.tm_sec > 59)
        return std::nullopt;
    std::tm normal = time;
    const time_t seconds = timegm(&normal);
    if (seconds == static_cast<time_t>(-1) || normal.tm_mday != time.tm_mday) return std::nullopt;
    return normal;  // also carries the day of week
}

ClockBytesArray LocalClockNow() {
    const time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return EncodeClock(local);
}

void MuxClock::Set(const ClockBytesArray& bytes, Steady::time_point now) {
    base_ = bytes;
    since_ = now;
}

void MuxClock::SetMode(ClockMode mode, Steady::time_point now) {
    if (mode == mode_) return;
    base_ = Read(now);
    since_ = now;
    mode_ = mode;
}

ClockBytesArray MuxClock::Read(Steady::time_point now) const {
    if (mode_ == ClockMode::Frozen) return base_;
    const auto start = DecodeClock(base_);
    if (!start) return base_;
    std::tm time = *start;
    const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(now - since_).count();
    time_t seconds = timegm(&time) + static_cast<time_t>(elapsed);
    std::tm moved{};
    gmtime_r(&seconds, &moved);
    if (elapsed == 0) {
        // Keep the bytes exactly as set until the first second passes.
        return base_;
    }
    return EncodeClock(moved);
}

}  // namespace muxsim
