#pragma once

#include <string>

#include "examples/demo/screen.h"
#include "examples/demo/timeline.h"

namespace demo {

// Opens the quest site's page `page` (on the local service: /quest/<page>) in the SDK's quest
// screen; the page asks the application's version over the bridge and gets the answer, asks for a
// haptic, then posts the close message and the screen closes. Returns "" when all of it happened,
// else what did not, in one line.
// `options.unitId` names the page of the service's quest site.
std::string runQuestFlow(Screen& screen, const Timeline& timeline, const FlowOptions& options);

}  // namespace demo
