#pragma once

#include <string>

#include "examples/demo/screen.h"
#include "examples/demo/timeline.h"

namespace demo {

// A popup over the host's feed: load (every page loads off screen), show (it animates in), the
// carousel rolls by itself, the user swipes to the last page (the indicator reads n / n), taps
// the page's link (a click, the landing page opens), then "hide for today"; a new popup of the
// unit is then refused with adHideForToday until local midnight. Returns "" when all of it
// happened, else what did not, in one line.
std::string runPopupFlow(Screen& screen, const Timeline& timeline, const FlowOptions& options);

}  // namespace demo
