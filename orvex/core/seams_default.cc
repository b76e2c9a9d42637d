// Stand-ins for subsystems not linked into this build; each goes when its subsystem lands.
#include "orvex/core/orvex.h"
#include "orvex/core/orvex_config.h"
#include "orvex/core/seams.h"

namespace orvex {

namespace seams {
void presentQuestPage(const std::string& url) {
  Orvex::shared().logger().log("quest page not available in this build: " + url);
}
std::shared_ptr<OrvexNativeAd> nativeAdAttachedTo(const OrvexNativeAdView&) {
  return nullptr;
}
}  // namespace seams

}  // namespace orvex
