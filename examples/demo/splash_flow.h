#pragma once

#include <string>

#include "examples/demo/screen.h"
#include "examples/demo/timeline.h"

namespace demo {

// An application's start with a splash ad: the launch screen becomes the window's root, shows the
// ad - from the cache an earlier run filled, without waiting for the network, or else from the
// request bounded by the time-out - counts the impression and cross-dissolves to the host's feed.
// Then it waits until the list for the next start is stored with its images on disk, so that
// running it again shows the cached ad. Returns "" when all of it happened, else what did not.
std::string runSplashFlow(Screen& screen, const Timeline& timeline, const FlowOptions& options);

}  // namespace demo
