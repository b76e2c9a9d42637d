#include "examples/embed/rewarded_example.h"

namespace example {

void ShopScreen::loadRewardedAd(const std::string& unitId) {
  rewarded_ = orvex::OrvexRewardedAd::create(unitId);
  rewarded_->setDelegate(weak_from_this());  // held weakly: the screen may go first
  rewarded_->load();  // received once its page has loaded and named its video
}

void ShopScreen::watchForCoinsTapped(const std::shared_ptr<orvex::ViewController>& root) {
  if (!rewarded_ || !rewarded_->isLoaded()) return;
  watchButtonShown = false;
  rewarded_->show(root, [weak = weak_from_this()](std::int64_t type, std::int64_t amount) {
    // Every reward the page sends, as it sends it, on the main thread.
    if (auto self = weak.lock()) {
      self->coins += amount;
      self->heard.push_back("reward " + std::to_string(type) + " x" + std::to_string(amount));
    }
  });
}

void ShopScreen::onAdReceived(orvex::OrvexRewardedAd& ad) {
  heard.push_back("received " + ad.txId());
  watchButtonShown = true;
}

void ShopScreen::onAdFailedToReceive(orvex::OrvexRewardedAd&, orvex::OrvexErrorCode errorCode) {
  heard.push_back("failed " + orvex::OrvexErrorCodeToString(errorCode));
}

void ShopScreen::onAdDidDismissFullScreen(orvex::OrvexRewardedAd&) {
  heard.push_back("dismissed");
}

}  // namespace example
