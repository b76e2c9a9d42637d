#pragma once

#include <string>

#include "examples/demo/screen.h"
#include "examples/demo/timeline.h"

namespace demo {

// A feed with a native ad below the fold, laid out in the host's own views: load, bind the parts,
// scroll it into view, wait for the impression, tap the call to action. Returns "" when all of it
// happened, else what did not, in one line.
std::string runNativeFlow(Screen& screen, const Timeline& timeline, const FlowOptions& options);

}  // namespace demo
