#pragma once

#include <string>

#include "examples/demo/screen.h"
#include "examples/demo/timeline.h"

namespace demo {

// A rewarded ad over the host's screen: load (the page loads off screen and names its video),
// show, the video plays to its end beneath the page while the page is told the seconds left, the
// page's reward reaches the host with its type and amount, the user taps the call to action and
// closes. Returns "" when all of it happened, with the callbacks in the host's order, else what
// did not, in one line.
std::string runRewardedFlow(Screen& screen, const Timeline& timeline, const FlowOptions& options);

}  // namespace demo
