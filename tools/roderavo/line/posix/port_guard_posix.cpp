#include "line/port_guard.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "line/posix/put_back_posix.h"

namespace roderavo::tool {

class PortGuard::Impl {
  public:
    ~Impl() { Disarm(); }
    void Disarm();

    std::string devicePath;
    int fd = -1;             // the tool's own descriptor of the device
    Taken* taken = nullptr;  // published while the driver holds the device
};

void PortGuard::Impl::Disarm() {
    if (taken != nullptr) {
        SignalsHeld held;
        // The driver gives back what it took; only the guard goes.
        if (WithdrawSlot(*taken)) FreeSlot(*taken);
        taken = nullptr;
    }
    if (fd >= 0) close(fd);
    fd = -1;
}

PortGuard::PortGuard() : impl_(std::make_unique<Impl>()) {}

PortGuard::~PortGuard() = default;

void PortGuard::Prepare(const std::string& devicePath) {
    impl_->Disarm();
    const int fd = open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;  // the driver's open will say why
    if (isatty(fd) == 0) {
        close(fd);  // no exclusive mode to put back
        return;
    }
    impl_->fd = fd;
    impl_->devicePath = devicePath;
}

void PortGuard::Arm() {
    int exclusive = 0;
    if (impl_->fd < 0 || impl_->taken != nullptr) return;
    if (ioctl(impl_->fd, TIOCGEXCL, &exclusive) != 0 || exclusive == 0) return;
    Taken* slot = TakeSlot();
    if (slot == nullptr) return;
    // The exclusive mode is the driver's (it refuses a device another program holds
    // so); the lock file is removed only while it names this process, the driver's.
    slot->claim.fd = impl_->fd;
    slot->claim.isTty = true;
    slot->claim.setExclusive = true;
    posix::LockPathFor(impl_->devicePath.c_str(), slot->claim.lock);
    impl_->taken = slot;
    PublishSlot(*slot);
}

void PortGuard::Disarm() {
    impl_->Disarm();
}

}  // namespace roderavo::tool
