#pragma once
// Scripts the SDK runs inside creative pages, shared by the screens that need them.

#include <string>

namespace orvex::page_scripts {

// Defines videoSrc(): the src of the first <source> of the first <video>, or null. Added at
// document end, main frame only; the rewarded screen calls "videoSrc()".
const std::string& videoSourceProbe();
// Defines isLoadComplete(): false while an image that is not lazily loaded is incomplete or
// empty. Added at document end, main frame only; popup pages are polled with it.
const std::string& loadCompleteCheck();
// Evaluates to the page's scroll size, {width, height}.
const std::string& contentSizeMeasurement();

}  // namespace orvex::page_scripts
