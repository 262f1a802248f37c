// Camera numbering: multiplexer m (0..4) serves the cameras 20*m+1 to 20*m+20, so
// the cameras are numbered 1 to 100 over the five multiplexers.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "roderavo/product.h"

namespace roderavo {

inline constexpr int32_t kMuxCount = RODERAVO_MULTIPLEXERS;
inline constexpr int32_t kCamerasPerMux = RODERAVO_CAMERAS_PER_MULTIPLEXER;
inline constexpr int32_t kLastCamera = RODERAVO_CAMERAS;
static_assert(kLastCamera == kMuxCount * kCamerasPerMux);

constexpr int32_t FirstCamera(int32_t plc) {
    return kCamerasPerMux * plc + 1;
}
constexpr int32_t LastCamera(int32_t plc) {
    return kCamerasPerMux * plc + kCamerasPerMux;
}
// The multiplexer that serves the camera (1..100).
constexpr int32_t MuxOfCamera(int32_t camera) {
    return (camera - 1) / kCamerasPerMux;
}

constexpr bool IsCameraOfMux(int32_t plc, int32_t camera) {
    return plc >= 0 && plc < kMuxCount && camera >= FirstCamera(plc) && camera <= LastCamera(plc);
}

// An address writes a camera with two decimal digits ("05", "99"). Camera 100,
// the last one of multiplexer 4, has no two-digit form and is written "100".
inline constexpr std::size_t kCameraDigits = 2;
inline constexpr std::string_view kLastCameraField = "100";

// The camera a camera field names, or nothing when the field is neither two
// decimal digits nor "100". The caller checks the camera against its multiplexer.
constexpr std::optional<int32_t> CameraFromField(std::string_view field) {
    if (field == kLastCameraField) return kLastCamera;
    if (field.size() != kCameraDigits) return std::nullopt;
    int32_t camera = 0;
    for (const char c : field) {
        if (c < '0' || c > '9') return std::nullopt;
        camera = camera * 10 + (c - '0');
    }
    return camera;
}

}  // namespace roderavo
