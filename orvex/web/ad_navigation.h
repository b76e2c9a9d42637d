#pragma once
// How an ad's page may navigate: the one rule the banner and the native ad's media page apply to
// both navigation hooks. It sits beside the web plumbing rather than in orvex/formats because the
// native ad's web controller (orvex/web) needs it too.
//
// Only what a user did is a click:
// - a link activated with a user gesture, in any frame and also when it asks for a new window;
// - a new-window request of type other (window.open) with a user gesture.
// Nothing without a gesture is ever a click: a page's script clicking its own link is not one
// (the phone platform's formats counted it, and billed clicks nobody made). Without a gesture a
// page may load its sub-frames, its own document ("about:blank", what loadHTMLString loads) and
// reload, and nothing else: its main frame never leaves the ad and no window opens. What a user
// started that is not a link (a form post, a script run from a tap) goes ahead, as on the phone
// platform.

#include "orvex/platform/web_view.h"

namespace orvex::ad_navigation {

enum class Verdict {
  click,   // count it, open the link, cancel the navigation
  allow,   // let it load
  cancel,  // neither a click nor a navigation the ad may make
};

// For WebViewNavigationDelegate::decidePolicy.
Verdict decide(const NavigationAction& action);
// For WebViewNavigationDelegate::requestsNewWindow; no window opens either way.
bool isNewWindowClick(const NavigationAction& action);

}  // namespace orvex::ad_navigation
