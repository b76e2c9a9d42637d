#pragma once
// The demo's screen on the headless port: an in-memory window and scripted pages.

#include <memory>

#include "examples/demo/screen.h"
#include "ports/headless/headless_port.h"

namespace demo {

std::unique_ptr<Screen> makeHeadlessScreen(orvex::headless::HeadlessPort& port);

}  // namespace demo
