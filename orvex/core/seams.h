#pragma once
// Calls from the core into subsystems that are built on top of it (the file cache, user
// properties, the quest screen). Each subsystem provides its function; until then the defaults
// in seams_default.cc stand in and do nothing beyond what they say.

#include <memory>
#include <string>

namespace orvex {
class OrvexNativeAd;
class OrvexNativeAdView;
}  // namespace orvex

namespace orvex::seams {

// The shared file cache's hourly clean-up, on a background queue.
void cleanUpFileCacheIfNeeded();
// Sends user properties that are still waiting to go out.
void sendPendingCustomProperties();
// Clears the stored user properties, ordered after the property changes already queued.
void resetCustomProperties();
// Presents the quest web page screen for `url` full screen over the top-most screen; nothing
// when there is no window to present from.
void presentQuestPage(const std::string& url);
// False only when the application's first window is in a landscape orientation.
bool interfaceIsPortrait();
// Makes the ad player script of `version` ready in the background, without completion.
void preparePlayerScript(const std::string& version);
// Removes the cached ad player script (its version changed).
void deletePlayerScript();
// The native ad currently attached to `view`, if any.
std::shared_ptr<OrvexNativeAd> nativeAdAttachedTo(const OrvexNativeAdView& view);

}  // namespace orvex::seams
