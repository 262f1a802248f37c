// A port the driver holds itself, without the protocol tap (read): a signal that
// ends the tool as it stands first gives back what the driver took on the device,
// its exclusive mode and its lock file, as the driver's close would; else the
// device stays in exclusive mode, refusing the next program, as long as anything
// keeps it open (a pty's far side). The driver keeps no signal handler: the tool
// keeps a descriptor of its own on the device for it.
#pragma once

#include <memory>
#include <string>

namespace roderavo::tool {

class PortGuard {
  public:
    PortGuard();
    ~PortGuard();  // disarms
    PortGuard(const PortGuard&) = delete;
    PortGuard& operator=(const PortGuard&) = delete;

    // Before the driver opens the device (its exclusive mode would then keep a
    // user's open out): the tool's own descriptor of it.
    void Prepare(const std::string& devicePath);
    // Once the driver holds it: guards what the driver took.
    void Arm();
    // Before the driver closes it, or after it failed to open it.
    void Disarm();

    class Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace roderavo::tool
