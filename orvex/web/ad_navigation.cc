#include "orvex/web/ad_navigation.h"

namespace orvex::ad_navigation {
namespace {

constexpr const char* kOwnDocument = "about:blank";

}  // namespace

Verdict decide(const NavigationAction& action) {
  if (!action.url) return Verdict::cancel;
  if (action.userGesture) {
    return action.type == NavigationType::linkActivated ? Verdict::click : Verdict::allow;
  }
  switch (action.target) {
    case NavigationTarget::subFrame:
      return Verdict::allow;
    case NavigationTarget::newWindow:
      return Verdict::cancel;
    case NavigationTarget::mainFrame:
      break;
  }
  const bool ownDocument = *action.url == kOwnDocument && action.type == NavigationType::other;
  return ownDocument || action.type == NavigationType::reload ? Verdict::allow : Verdict::cancel;
}

bool isNewWindowClick(const NavigationAction& action) {
  return action.type == NavigationType::other && action.userGesture && action.url.has_value();
}

}  // namespace orvex::ad_navigation
