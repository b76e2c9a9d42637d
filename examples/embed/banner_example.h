#pragma once
// A host screen with a banner: what README.md shows, compiled and run by the tests.

#include <memory>
#include <string>
#include <vector>

#include "orvex/formats/inline/orvex_banner.h"
#include "orvex/formats/inline/orvex_quest_banner.h"

namespace example {

class FeedScreen : public orvex::OrvexBannerDelegate,
                   public std::enable_shared_from_this<FeedScreen> {
 public:
  // Places a banner for `unitId` at the bottom of `container` and loads it (main thread).
  void showBanner(const std::shared_ptr<orvex::View>& container, const std::string& unitId);
  // Places the quest site's banner for `channel` at the top of `container` and loads it.
  void showQuestBanner(const std::shared_ptr<orvex::View>& container, const std::string& channel);
  const std::shared_ptr<orvex::OrvexQuestBanner>& questBanner() const { return questBanner_; }

  void onAdReceived(orvex::OrvexBanner& banner) override;
  void onAdFailedToReceive(orvex::OrvexBanner& banner, orvex::OrvexErrorCode errorCode) override;
  void onAdClicked(orvex::OrvexBanner& banner) override;

  std::vector<std::string> heard;

 private:
  std::shared_ptr<orvex::OrvexBanner> banner_;  // the screen owns its banners
  std::shared_ptr<orvex::OrvexQuestBanner> questBanner_;
};

}  // namespace example
