#pragma once
// A banner that advertises the quest site: made for a channel and a display format instead of a
// unit id, it loads, shows and counts exactly as OrvexBanner does, but a click opens the landing
// page in the SDK's quest screen (OrvexQuestWebViewController) instead of a browser. Main thread
// only, like the banner.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "orvex/formats/inline/orvex_banner.h"

namespace orvex {

// The unit each format requests: "FEED" and "COVER".
enum class OrvexQuestBannerFormat { feed = 0, cover = 1 };
// Where the banner is shown, with its raw values "home" and "my_page".
enum class OrvexQuestBannerFrom { home, myPage };
std::string rawValue(OrvexQuestBannerFrom from);

class ORVEX_API OrvexQuestBanner : public OrvexBanner {
 public:
  // The only factory: OrvexBanner::create(unitId, contextId) is not offered here.
  static std::shared_ptr<OrvexQuestBanner> create(std::string channel,
                                                  OrvexQuestBannerFormat format);

  // Takes a raw value of OrvexQuestBannerFrom; anything else is refused with a log line.
  void setFrom(std::string_view from);
  // Stored for the host; no request or page of the SDK reads them.
  const std::string& channel() const { return channel_; }
  std::optional<OrvexQuestBannerFrom> from() const { return from_; }
  OrvexQuestBannerFormat questFormat() const { return questFormat_; }

  // Opens `url` (or the landing page) in the quest screen over the banner's outermost screen;
  // neither `useInAppBrowser` nor the ad's browser target matter.
  void open(const std::optional<std::string>& url, bool useInAppBrowser) override;

 private:
  OrvexQuestBanner(std::string channel, OrvexQuestBannerFormat format);

  const std::string channel_;
  const OrvexQuestBannerFormat questFormat_;
  std::optional<OrvexQuestBannerFrom> from_;
};

}  // namespace orvex
