#include "examples/embed/splash_example.h"

namespace example {

void AppLaunch::start(orvex::Window& window, std::shared_ptr<orvex::ViewController> home,
                      const std::string& unitId) {
  // Waits at most 1 s for the service when no ad is stored yet; the next start needs none.
  auto splash = orvex::OrvexSplashAdViewController::create(unitId, /*adRequestTimeout=*/1.0);
  if (!splash) return window.setRootViewController(home);  // a port without a screen
  splash->setDelegate(weak_from_this());                   // held weakly
  splash->setBackgroundColor(0x10243CFF);
  splash->setMainViewController(std::move(home));  // cross-dissolved to when the ad is over
  splash->setDisplayDuration(2.0);                 // unless the service says otherwise
  splash->splashAd()->onAdImpression = [this](orvex::OrvexSplashAd&) {
    heard.push_back("impression");
  };
  window.setRootViewController(splash->viewController());  // the window keeps it
}

void AppLaunch::showInOwnLaunchFlow(const std::shared_ptr<orvex::View>& container,
                                    const std::string& unitId) {
  adView_ = orvex::OrvexSplashAdView::create(unitId, /*adRequestTimeout=*/0);  // cache only
  if (!adView_) return;
  adView_->setDelegate(weak_from_this());
  container->addSubview(adView_->view());  // fills it; the impression once it is seen
}

void AppLaunch::onAdReceived(orvex::OrvexSplashAd& ad) {
  heard.push_back("received " + ad.txId());
}

void AppLaunch::onAdFailedToReceive(orvex::OrvexSplashAd&, orvex::OrvexErrorCode errorCode) {
  heard.push_back("failed " + orvex::OrvexErrorCodeToString(errorCode));
}

void AppLaunch::onAdClose(orvex::OrvexSplashAd&, bool impressed) {
  heard.push_back(impressed ? "closed after an impression" : "closed");
}

void AppLaunch::onAdClose(orvex::OrvexSplashAdView&, bool impressed) {
  heard.push_back(impressed ? "view closed after an impression" : "view closed");
  adView_->view()->removeFromSuperview();  // the host's own launch flow goes on
}

}  // namespace example
