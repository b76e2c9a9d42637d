#pragma once

#include <functional>
#include <memory>
#include <string>

#include "examples/demo/screen.h"
#include "examples/demo/timeline.h"

namespace demo {

// A feed with a banner below the fold: load, scroll it into view, wait for the impression, tap
// the creative's link. Returns "" when all of it happened, else what did not, in one line.
struct FlowOptions {
  std::string unitId;
  // Where to write a PNG of the window once the ad is on screen; empty: none.
  std::string screenshot;
  // Told where the ad was in the window when the screenshot was taken.
  std::function<void(const orvex::Rect&)> screenshotArea;
};

std::string runBannerFlow(Screen& screen, const Timeline& timeline, const FlowOptions& options);

}  // namespace demo
