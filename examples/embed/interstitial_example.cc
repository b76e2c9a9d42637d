#include "examples/embed/interstitial_example.h"

namespace example {

void LevelScreen::prepareInterstitial(const std::string& unitId) {
  unitId_ = unitId;
  interstitial_ = orvex::OrvexInterstitialAd::create(unitId);
  interstitial_->setDelegate(weak_from_this());  // held weakly: the screen may go first
  interstitial_->onAdClicked = [](orvex::OrvexInterstitialAd&) { /* once per ad */ };
  interstitial_->load();  // its page loads off screen; onAdReceived once it is ready
}

bool LevelScreen::levelFinished(const std::shared_ptr<orvex::ViewController>& root) {
  if (!interstitial_ || !interstitial_->isLoaded()) return false;
  interstitial_->show(root);  // over the host's screen, until the page or the user closes it
  return true;
}

void LevelScreen::onAdReceived(orvex::OrvexInterstitialAd& ad) {
  heard.push_back("received " + ad.txId());
}

void LevelScreen::onAdFailedToReceive(orvex::OrvexInterstitialAd&,
                                      orvex::OrvexErrorCode errorCode) {
  heard.push_back("failed " + orvex::OrvexErrorCodeToString(errorCode));
}

void LevelScreen::onAdDidDismissFullScreen(orvex::OrvexInterstitialAd&) {
  heard.push_back("dismissed");
  prepareInterstitial(unitId_);  // an ad shows once: a new one for the next break
}

}  // namespace example
