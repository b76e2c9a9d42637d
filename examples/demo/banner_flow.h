#pragma once

#include <memory>
#include <string>

#include "examples/demo/screen.h"
#include "examples/demo/timeline.h"

namespace demo {

// A feed with a banner below the fold: load, scroll it into view, wait for the impression, tap
// the creative's link. Returns "" when all of it happened, else what did not, in one line.
std::string runBannerFlow(Screen& screen, const Timeline& timeline, const FlowOptions& options);

}  // namespace demo
