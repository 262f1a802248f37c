#include "bridge/core/picture.h"

#include "poll/live_view.h"

namespace roderavo::tool::bridge {

namespace {

constexpr uint8_t kVideoLossState = 0x2E;

std::size_t At(int index) {
    return static_cast<std::size_t>(index);
}

}  // namespace

std::string_view Word(MuxShown state) {
    switch (state) {
        case MuxShown::kOk:
            return "ok";
        case MuxShown::kFailing:
            return "failing";
        case MuxShown::kDemoted:
            return "demoted";
        case MuxShown::kAbsent:
            return "absent";
        case MuxShown::kNotYet:
            break;
    }
    return "";
}

std::string_view Word(CameraShown state) {
    switch (state) {
        case CameraShown::kFine:
            return "fine";
        case CameraShown::kAlarm:
            return "alarm";
        case CameraShown::kVideoLoss:
            return "video-loss";
        case CameraShown::kUnknown:
            return "unknown";
        case CameraShown::kNotRead:
            break;
    }
    return "";
}

MuxShown ShownMux(const MuxView& view, MuxState state) {
    const bool answered = view.lastGood.has_value();
    switch (state) {
        case MuxState::Waiting:
            return MuxShown::kNotYet;
        case MuxState::Ok:
            return MuxShown::kOk;
        case MuxState::Stale:
        case MuxState::Failing:
            return answered ? MuxShown::kFailing : MuxShown::kAbsent;
        case MuxState::Demoted:
            return answered ? MuxShown::kDemoted : MuxShown::kAbsent;
    }
    return MuxShown::kNotYet;
}

CameraShown ShownCamera(const MuxView& view, MuxShown mux, int index) {
    // Nothing is shown of a multiplexer before its first turn ends.
    if (mux == MuxShown::kNotYet) return CameraShown::kNotRead;
    if (mux == MuxShown::kDemoted || mux == MuxShown::kAbsent) return CameraShown::kUnknown;
    switch (LookOf(view.alarm[At(index)], view.videoLoss[At(index)])) {
        case CameraLook::Fine:
            return CameraShown::kFine;
        case CameraLook::Alarm:
            return CameraShown::kAlarm;
        case CameraLook::VideoLoss:
            return CameraShown::kVideoLoss;
        case CameraLook::Unknown:
            return CameraShown::kUnknown;
        case CameraLook::NotRead:
            break;
    }
    return CameraShown::kNotRead;
}

Picture::Picture(const std::vector<MuxView>& muxes, std::chrono::milliseconds staleAfter,
                 uint64_t number)
    : number_(number) {
    for (const MuxView& view : muxes) {
        MuxPicture mux;
        mux.mux = view.mux;
        mux.state = ShownMux(view, view.state);
        if (view.state == MuxState::Ok && view.lastGood) mux.staleAt = *view.lastGood + staleAfter;
        mux.lastGood = view.lastGood;
        mux.version = view.version;
        mux.clock = view.clock;
        mux.lastError = view.lastError;
        for (int i = 0; i < kCamerasPerMux; ++i) {
            CameraPicture& camera = mux.cameras[At(i)];
            camera.state = ShownCamera(view, mux.state, i);
            const auto alarm = view.alarm[At(i)];
            camera.videoLoss = camera.state != CameraShown::kUnknown &&
                               (view.videoLoss[At(i)] == 1 || alarm == kVideoLossState);
        }
        mux.figures = view;
        muxes_.push_back(std::move(mux));
    }
}

const MuxPicture* Picture::Mux(int mux) const {
    for (const MuxPicture& picture : muxes_)
        if (picture.mux == mux) return &picture;
    return nullptr;
}

MuxShown Picture::MuxAt(int mux, PollClock::time_point now) const {
    const MuxPicture* picture = Mux(mux);
    if (picture == nullptr) return MuxShown::kNotYet;
    if (picture->state == MuxShown::kOk && picture->staleAt && now > *picture->staleAt)
        return MuxShown::kFailing;
    return picture->state;
}

CameraPicture Picture::Camera(int camera) const {
    const MuxPicture* mux =
        camera >= 1 && camera <= kLastCamera ? Mux(MuxOfCamera(camera)) : nullptr;
    if (mux == nullptr) return {};
    return mux->cameras[At(camera - FirstCamera(mux->mux))];
}

CameraPicture Picture::CameraAt(int camera, PollClock::time_point now) const {
    CameraPicture shown = Camera(camera);
    if (shown.state == CameraShown::kNotRead) return shown;
    if (MuxAt(MuxOfCamera(camera), now) != MuxShown::kOk) return {CameraShown::kUnknown, false};
    return shown;
}

std::vector<int> NewAlarms(const Picture* before, const Picture& after) {
    std::vector<int> cameras;
    for (const MuxPicture& mux : after.Muxes()) {
        for (int i = 0; i < kCamerasPerMux; ++i) {
            const int camera = FirstCamera(mux.mux) + i;
            const CameraShown now = mux.cameras[At(i)].state;
            const CameraShown was = before ? before->Camera(camera).state : CameraShown::kNotRead;
            if (now != was && (now == CameraShown::kAlarm || now == CameraShown::kVideoLoss))
                cameras.push_back(camera);
        }
    }
    return cameras;
}

std::shared_ptr<const Picture> PictureStore::Latest() const {
    std::lock_guard lock(mutex_);
    return latest_;
}

void PictureStore::Publish(std::shared_ptr<const Picture> picture) {
    {
        std::lock_guard lock(mutex_);
        latest_.swap(picture);
    }
    // The picture replaced is let go here, with no lock held.
}

}  // namespace roderavo::tool::bridge
