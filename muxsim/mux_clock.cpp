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

using std::chrono::sys_seconds;

// The instant of a broken-down time taken as UTC; nothing when no such time exists.
std::optional<sys_seconds> UtcInstant(const std::tm& time) {
    using namespace std::chrono;
    const year_month_day date{year{time.tm_year + 1900},
                              month{static_cast<unsigned>(time.tm_mon + 1)},
                              day{static_cast<unsigned>(time.tm_mday)}};
    if (!date.ok() || time.tm_mon < 0 || time.tm_mday < 1 || time.tm_hour < 0 ||
        time.tm_hour > 23 || time.tm_min < 0 || time.tm_min > 59 || time.tm_sec < 0 ||
        time.tm_sec > 59)
        return std::nullopt;
    return sys_days{date} + hours{time.tm_hour} + minutes{time.tm_min} + seconds{time.tm_sec};
}

std::tm UtcTime(sys_seconds instant) {
    using namespace std::chrono;
    const sys_days day = floor<days>(instant);
    const year_month_day date{day};
    const hh_mm_ss clock{instant - day};
    std::tm time{};
    time.tm_year = static_cast<int>(date.year()) - 1900;
    time.tm_mon = static_cast<int>(static_cast<unsigned>(date.month())) - 1;
    time.tm_mday = static_cast<int>(static_cast<unsigned>(date.day()));
    time.tm_wday = static_cast<int>(weekday{day}.c_encoding());
    time.tm_hour = static_cast<int>(clock.hours().count());
    time.tm_min = static_cast<int>(clock.minutes().count());
    time.tm_sec = static_cast<int>(clock.seconds().count());
    return time;
}

}  // namespace

std::optional<std::tm> CompleteClock(const std::tm& time) {
    const auto instant = UtcInstant(time);
    if (!instant) return std::nullopt;
    return UtcTime(*instant);
}

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
    return CompleteClock(time);  // also carries the day of week
}

ClockBytesArray LocalClockNow() {
    const time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
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
    const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(now - since_);
    // Keep the bytes exactly as set until the first second passes.
    if (elapsed.count() == 0) return base_;
    return EncodeClock(UtcTime(*UtcInstant(*start) + elapsed));
}

}  // namespace muxsim
