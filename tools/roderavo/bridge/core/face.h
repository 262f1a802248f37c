// A face of the bridge (MQTT, Modbus TCP, the web): it renders the core's picture to
// its clients and hands their commands to the core's queue. The core calls it on the
// polling thread, and a face must not block there: it keeps the picture (or sends
// what changed without waiting) and serves its clients on a thread of its own.
#pragma once

#include <memory>
#include <string>

#include "bridge/core/picture.h"

namespace roderavo::tool::bridge {

class Face {
  public:
    virtual ~Face() = default;
    // The latest picture, after every gate the poll reads.
    virtual void Show(const std::shared_ptr<const Picture>& picture, PollClock::time_point now) = 0;
    // A poll event as it happens: a demotion, a recovery, data grown stale.
    virtual void Tell(const std::string& /*event*/) {}
    // The alarm report (the ALS text) of a camera that has just gone into alarm or
    // video loss, and the state it was read with.
    virtual void Report(int /*camera*/, CameraShown /*state*/, const std::string& /*report*/) {}
    // Statistics are due (each --statistics-every): the picture carries them.
    virtual void Statistics(const Picture& /*picture*/) {}
    // The bridge stops: no client is answered after this returns.
    virtual void Stop() {}
};

}  // namespace roderavo::tool::bridge
