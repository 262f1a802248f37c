// No protocol tap on Windows: it hands the driver a pseudo-terminal.
#include "line/line_tap.h"
#include "system/platform.h"

namespace roderavo::tool {

class LineTap::Impl {};

LineTap::LineTap() = default;

LineTap::~LineTap() = default;

bool LineTap::Start(const std::string&, const LineSettings&, int, Sink, std::string* error) {
    *error = kNoPseudoTerminals;
    return false;
}

std::string LineTap::PortName() const {
    return {};
}

void LineTap::Stop() {}

LineCounts LineTap::Counts(int) const {
    return {};
}

}  // namespace roderavo::tool
