#pragma once
// A host's start with a splash ad: what README.md shows, compiled and run by the tests.

#include <memory>
#include <string>
#include <vector>

#include "orvex/formats/fullscreen/orvex_splash_ad_view.h"
#include "orvex/formats/fullscreen/orvex_splash_ad_view_controller.h"

namespace example {

class AppLaunch : public orvex::OrvexSplashAdDelegate,
                  public orvex::OrvexSplashAdViewDelegate,
                  public std::enable_shared_from_this<AppLaunch> {
 public:
  // At start: the launch screen is the window's root until it hands over to `home`.
  void start(orvex::Window& window, std::shared_ptr<orvex::ViewController> home,
             const std::string& unitId);
  // A host with a launch flow of its own places the ad's view in `container` instead.
  void showInOwnLaunchFlow(const std::shared_ptr<orvex::View>& container,
                           const std::string& unitId);

  void onAdReceived(orvex::OrvexSplashAd& ad) override;
  void onAdFailedToReceive(orvex::OrvexSplashAd& ad, orvex::OrvexErrorCode errorCode) override;
  void onAdClose(orvex::OrvexSplashAd& ad, bool impressed) override;
  void onAdClose(orvex::OrvexSplashAdView& view, bool impressed) override;

  std::vector<std::string> heard;

 private:
  std::shared_ptr<orvex::OrvexSplashAdView> adView_;
};

}  // namespace example
