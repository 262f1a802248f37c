#include "device.h"

#include <algorithm>

namespace muxsim {

namespace {

inline constexpr char kDefaultVersion[] = "AMUX 20CD V2.10";

int FirstCamera(int mux) {
    return mux * kCamerasPerMux + 1;
}

}  // namespace

Device::Device(const Options& options, MuxClock::Steady::time_point now) {
    const ClockBytesArray start = LocalClockNow();
    for (int mux = 0; mux < kMuxCount; ++mux) {
        const auto index = static_cast<std::size_t>(mux);
        version[index] = kDefaultVersion;
        present[index] = options.present[index];
        clock[index].Set(start, now);
        clock[index].SetMode(options.clockMode, now);
    }
}

std::optional<Answer> Device::Handle(std::span<const uint8_t> frame,
                                     MuxClock::Steady::time_point now) {
    if (frame.size() < kMinLength + 1u || frame[0] != kStartByte) return std::nullopt;
    const std::size_t length = frame[1];
    if (length < kMinLength || length + 1 != frame.size() || !ChecksumOk(frame))
        return std::nullopt;
    const int mux = MuxOfAddress(frame[2]);
    if (mux < 0 || !present[static_cast<std::size_t>(mux)] || frame[5] != kFrameMarker)
        return std::nullopt;
    const auto payload = frame.subspan(6, length - 6);
    if (frame[4] == kStatusSource) return Status(mux, frame[3], payload, now);
    if (frame[4] == kControlSource) return Control(mux, frame[3], payload, now);
    return std::nullopt;
}

std::optional<Answer> Device::Status(int mux, uint8_t command, std::span<const uint8_t> payload,
                                     MuxClock::Steady::time_point now) {
    const auto index = static_cast<std::size_t>(mux);
    const uint8_t source = MuxAddress(mux);
    Answer answer;
    answer.mux = mux;
    switch (command) {
        case kCmdVer: {
            if (!payload.empty()) return std::nullopt;
            const std::string& text = version[index];
            const std::size_t size = std::min<std::size_t>(text.size(), kMaxVersionText);
            const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
            answer.reply = BuildStatusReply(command, source, std::span(bytes, size));
            break;
        }
        case kCmdAls: {
            if (payload.size() != 1) return std::nullopt;
            const int camera = payload[0];
            const uint8_t cameraState =
                camera >= 1 && camera <= kCameraCount ? state[static_cast<std::size_t>(camera)] : 0;
            if (cameraState != static_cast<uint8_t>(CameraState::None))
                answer.reply = BuildAlarmReport(source, clock[index].Read(now), cameraState);
            else
                answer.reply = BuildStatusReply(command, source, {});
            break;
        }
        case kCmdAas:
        case kCmdVls: {
            if (!payload.empty()) return std::nullopt;
            const auto& table = command == kCmdAas ? state : videoLoss;
            const auto first = table.begin() + FirstCamera(mux);
            const Bytes list(first, first + kCamerasPerMux);
            answer.reply = BuildStatusReply(command, source, list);
            break;
        }
        case kCmdTad: {
            if (!payload.empty()) return std::nullopt;
            const ClockBytesArray bytes = clock[index].Read(now);
            answer.reply = BuildStatusReply(command, source, bytes);
            break;
        }
        default:
            return std::nullopt;
    }
    return answer;
}

std::optional<Answer> Device::Control(int mux, uint8_t command, std::span<const uint8_t> payload,
                                      MuxClock::Steady::time_point now) {
    const auto index = static_cast<std::size_t>(mux);
    switch (command) {
        case kCmdKey:
        case kCmdPtz:
            if (payload.size() != 1) return std::nullopt;
            break;
        case kCmdCaa:
            if (!payload.empty()) return std::nullopt;
            std::fill_n(state.begin() + FirstCamera(mux), kCamerasPerMux,
                        static_cast<uint8_t>(CameraState::None));
            break;
        case kCmdIhk:  // a subcommand and one to four key codes; an INHPAIR frame has three
            if (payload.size() < 2 || payload.size() > 5) return std::nullopt;
            break;
        case kCmdTad: {
            if (payload.size() != 8) return std::nullopt;
            ClockBytesArray bytes{};
            std::copy(payload.begin(), payload.end(), bytes.begin());
            clock[index].Set(bytes, now);
            break;
        }
        case kCmdJoy:
            if (payload.size() != 3) return std::nullopt;
            break;
        default:
            return std::nullopt;
    }
    Answer answer;
    answer.mux = mux;
    answer.acknowledgement = true;
    answer.reply = BuildAcknowledgement(MuxAddress(mux), 0x00);
    return answer;
}

}  // namespace muxsim
