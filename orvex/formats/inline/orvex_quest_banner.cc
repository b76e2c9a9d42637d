#include "orvex/formats/inline/orvex_quest_banner.h"

#include "orvex/core/url.h"
#include "orvex/formats/ad_rules.h"
#include "orvex/web/link_opener.h"
#include "orvex/web/quest_web_view_controller.h"

namespace orvex {
namespace {

const char* unitIdOf(OrvexQuestBannerFormat format) {
  return format == OrvexQuestBannerFormat::cover ? "COVER" : "FEED";
}

}  // namespace

std::string rawValue(OrvexQuestBannerFrom from) {
  return from == OrvexQuestBannerFrom::myPage ? "my_page" : "home";
}

std::shared_ptr<OrvexQuestBanner> OrvexQuestBanner::create(std::string channel,
                                                           OrvexQuestBannerFormat format) {
  std::shared_ptr<OrvexQuestBanner> banner(new OrvexQuestBanner(std::move(channel), format));
  banner->setUp();
  if (auto web = banner->webView()) web->setShowsScrollIndicators(false);
  return banner;
}

OrvexQuestBanner::OrvexQuestBanner(std::string channel, OrvexQuestBannerFormat format)
    : OrvexBanner(unitIdOf(format), ""), channel_(std::move(channel)), questFormat_(format) {
  // Not the banner format: the switched-off check for banner units does not apply.
  format_ = AdUnitFormat::vesk;
}

void OrvexQuestBanner::setFrom(std::string_view from) {
  for (auto candidate : {OrvexQuestBannerFrom::home, OrvexQuestBannerFrom::myPage}) {
    if (from == rawValue(candidate)) {
      from_ = candidate;
      return;
    }
  }
  logger_.log("❗️Invalid from value: '" + std::string(from) + "'. Supported values are: [" +
              rawValue(OrvexQuestBannerFrom::home) + ", " + rawValue(OrvexQuestBannerFrom::myPage) +
              "]");
}

void OrvexQuestBanner::open(const std::optional<std::string>& url, bool) {
  const std::string text = url ? *url : destinationURL().value_or("");
  if (!Url::parse(text)) {
    logger_.log("failed to open: " + url.value_or(""));
    return;
  }
  std::weak_ptr<OrvexBanner> weak = weak_from_this();
  ad_rules::onMainIfAlive<OrvexBanner>(weak, [text](OrvexBanner& banner) {
    if (auto view = banner.view())
      OrvexQuestWebViewController::present(outermostViewController(*view), text);
  });
}

}  // namespace orvex
