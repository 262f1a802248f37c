// A camera's change in muxsim to the web page's DOM in headless Chromium, against the
// same change to an MQTT subscriber of the same bridge, in one run.
#pragma once

namespace bench {

// Prints the row (one saying why, when there is no browser or broker); false when the
// run failed.
bool DomRow(bool quick);

}  // namespace bench
