#pragma once
// A shop screen that gives coins for watching a rewarded video: what README.md shows, compiled
// and run by the tests.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "orvex/formats/fullscreen/orvex_rewarded_ad.h"

namespace example {

class ShopScreen : public orvex::OrvexRewardedAdDelegate,
                   public std::enable_shared_from_this<ShopScreen> {
 public:
  // Loads a rewarded ad; the "watch for coins" button shows once it is ready (main thread).
  void loadRewardedAd(const std::string& unitId);
  void watchForCoinsTapped(const std::shared_ptr<orvex::ViewController>& root);

  void onAdReceived(orvex::OrvexRewardedAd& ad) override;
  void onAdFailedToReceive(orvex::OrvexRewardedAd& ad, orvex::OrvexErrorCode errorCode) override;
  void onAdDidDismissFullScreen(orvex::OrvexRewardedAd& ad) override;

  const std::shared_ptr<orvex::OrvexRewardedAd>& ad() const { return rewarded_; }
  bool watchButtonShown = false;
  std::int64_t coins = 0;
  std::vector<std::string> heard;

 private:
  std::shared_ptr<orvex::OrvexRewardedAd> rewarded_;  // the screen owns its ad
};

}  // namespace example
