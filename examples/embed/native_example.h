#pragma once
// A host screen with a native ad laid out in its own views: what README.md shows, compiled and
// run by the tests.

#include <memory>
#include <string>
#include <vector>

#include "orvex/formats/inline/orvex_native_ad.h"
#include "orvex/formats/inline/orvex_native_ad_view.h"

namespace example {

class ArticleScreen : public orvex::OrvexNativeAdDelegate,
                      public std::enable_shared_from_this<ArticleScreen> {
 public:
  // Lays a native ad card out at the top of `container` and loads the ad (main thread).
  void showNativeAd(const std::shared_ptr<orvex::View>& container, orvex::UserInterface& ui,
                    const std::string& unitId);

  void onAdReceived(orvex::OrvexNativeAd& ad) override;
  void onAdFailedToReceive(orvex::OrvexNativeAd& ad, orvex::OrvexErrorCode errorCode) override;
  void onAdClicked(orvex::OrvexNativeAd& ad) override;

  const std::shared_ptr<orvex::OrvexNativeAd>& ad() const { return ad_; }
  std::vector<std::string> heard;
  std::shared_ptr<orvex::ImageView> icon;
  std::shared_ptr<orvex::Label> callToAction;

 private:
  std::shared_ptr<orvex::OrvexNativeAd> ad_;          // the screen owns its ad
  std::shared_ptr<orvex::OrvexNativeAdView> adView_;  // and the container that binds it
  std::shared_ptr<orvex::Label> headline_;
};

}  // namespace example
