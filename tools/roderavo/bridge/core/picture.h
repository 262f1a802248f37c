// The picture of the line: what each multiplexer and each camera is shown as, made
// once after every gate the poll reads and shared, immutable, by every face. The rules
// of what is shown live here and nowhere else:
//   a multiplexer is ok while it answers, failing when it stops answering (or its data
//   grows stale), demoted after failing cycles in a row, absent when it has never
//   answered since the bridge started (failing or demoted alike);
//   a camera is fine, alarm, video-loss or unknown as last read, unknown while its
//   multiplexer is demoted or absent, and a face that shows the present shows it
//   unknown whenever its multiplexer is not ok (CameraAt);
//   an ok multiplexer's data grows stale at its staleAt: from then it is failing,
//   whether or not a newer picture has come.
#pragma once
#define RODERAVO_TREE_PICTURE_H 1  // the tree's own copy, as the layer probes ask

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "address/camera_range.h"
#include "poll/poller.h"

namespace roderavo::tool::bridge {

enum class MuxShown : uint8_t { kNotYet, kOk, kFailing, kDemoted, kAbsent };
enum class CameraShown : uint8_t { kNotRead, kFine, kAlarm, kVideoLoss, kUnknown };

// The words of the topics: "" (not polled or not tried yet), ok, failing, demoted,
// absent; "" (not read yet), fine, alarm, video-loss, unknown.
std::string_view Word(MuxShown state);
std::string_view Word(CameraShown state);

// What the poller's state of a multiplexer is shown as (Stale: failing).
MuxShown ShownMux(const MuxView& view, MuxState state);
// A camera (index 0..19 of its multiplexer) as last read, under its multiplexer's state.
CameraShown ShownCamera(const MuxView& view, MuxShown mux, int index);

struct CameraPicture {
    CameraShown state = CameraShown::kNotRead;
    bool videoLoss = false;  // by either list, also beside an alarm; false while unknown
};

struct MuxPicture {
    int mux = 0;
    MuxShown state = MuxShown::kNotYet;            // as the poll left it
    std::optional<PollClock::time_point> staleAt;  // an ok multiplexer is failing from then
    std::optional<PollClock::time_point> lastGood;
    std::string version, clock, lastError;
    std::array<CameraPicture, kCamerasPerMux> cameras{};
    MuxView figures;  // the poll's own record, for the statistics (with the line's counts)
};

class Picture {
  public:
    Picture() = default;
    // The poller's views, `staleAfter` its staleness; `number` counts the pictures made.
    Picture(const std::vector<MuxView>& muxes, std::chrono::milliseconds staleAfter,
            uint64_t number = 0);

    uint64_t Number() const { return number_; }
    // The multiplexers polled, in the poll's order.
    const std::vector<MuxPicture>& Muxes() const { return muxes_; }
    const MuxPicture* Mux(int mux) const;
    // A multiplexer's state at `now`: stale data makes an ok one failing.
    MuxShown MuxAt(int mux, PollClock::time_point now) const;
    // A camera (1..100) as a face shows the present: unknown unless its multiplexer is
    // ok at `now`; not read, when it has not been.
    CameraPicture CameraAt(int camera, PollClock::time_point now) const;
    // A camera as last read (retained states: its multiplexer's availability says the rest).
    CameraPicture Camera(int camera) const;

  private:
    uint64_t number_ = 0;
    std::vector<MuxPicture> muxes_;
};

// The cameras that have gone into alarm or video loss from one picture to the next
// (from none: those found so), whose alarm reports are to be read.
std::vector<int> NewAlarms(const Picture* before, const Picture& after);

// The latest picture, swapped whole: a face takes the pointer and renders from it
// without holding anything the poll's thread waits for.
class PictureStore {
  public:
    PictureStore() : latest_(std::make_shared<const Picture>()) {}
    std::shared_ptr<const Picture> Latest() const;
    void Publish(std::shared_ptr<const Picture> picture);

  private:
    mutable std::mutex mutex_;  // held for the pointer's copy only
    std::shared_ptr<const Picture> latest_;
};

}  // namespace roderavo::tool::bridge
