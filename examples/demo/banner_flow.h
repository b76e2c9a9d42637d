#pragma once

#include <memory>
#include <string>

#include "examples/demo/timeline.h"
#include "ports/headless/headless_port.h"

namespace demo {

// A feed with a banner below the fold: load, scroll it into view, wait for the impression, tap
// the creative's link. Returns "" when all of it happened, else what did not, in one line.
std::string runBannerFlow(orvex::headless::HeadlessPort& port, const Timeline& timeline,
                          const std::string& unitId);

}  // namespace demo
