#pragma once

#include <string>

#include "examples/demo/screen.h"
#include "examples/demo/timeline.h"

namespace demo {

// An interstitial over the host's screen: load (the page loads off screen), show over the root
// controller, the user taps the page's link (counted once the page reports it), then its close
// button (the host closes a page that never does). Returns "" when all of it happened, with the
// full-screen callbacks in the host's order, else what did not, in one line.
std::string runInterstitialFlow(Screen& screen, const Timeline& timeline,
                                const FlowOptions& options);

}  // namespace demo
