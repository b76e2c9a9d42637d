#pragma once
// What the interstitial and rewarded screens share beyond their ads' event table: how a screen is
// owned, how it reads its page's messages and which orientations a creative allows.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "orvex/core/url.h"
#include "orvex/platform/value.h"
#include "orvex/platform/view.h"
#include "orvex/platform/web_view.h"

namespace orvex::fullscreen {

// The port's controller owns the screen's logic (ViewController::keepAlive), which holds the
// controller weakly; the returned handle owns the controller. Whoever lets go last - the ad, or
// the presenter while the screen is up - ends both, and there is no cycle.
template <typename Screen>
std::shared_ptr<Screen> adopt(const std::shared_ptr<ViewController>& controller,
                              const std::shared_ptr<Screen>& screen) {
  controller->keepAlive(screen);
  return std::shared_ptr<Screen>(controller, screen.get());
}

// A message a creative posted on the "orvex" handler: its "action" text and the whole body.
struct PageMessage {
  std::string action;
  const Value& body;
};
// Only a dictionary with a text "action" is a message; anything else is ignored without a word.
std::optional<PageMessage> pageMessage(const ScriptMessage& message);

// The link of an "open" message, when its "url" is text that parses as a URL.
std::optional<Url> pageLink(const PageMessage& message);

// Portrait creatives allow both portrait orientations; the others both landscape ones.
std::vector<InterfaceOrientation> orientationsFor(bool isPortrait);

// The root view filled by `view` as it is resized.
void fill(ViewController& controller, const std::shared_ptr<View>& view);

}  // namespace orvex::fullscreen
