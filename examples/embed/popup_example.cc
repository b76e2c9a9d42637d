#include "examples/embed/popup_example.h"

namespace example {

void HomeScreen::appeared(const std::string& unitId) {
  popup_ = orvex::OrvexPopupAd::create(unitId);  // one popup per load: single use
  popup_->setDelegate(weak_from_this());         // held weakly: the screen may go first
  popup_->setCloseDelegate(weak_from_this());
  popup_->ctaTextColor = 0x1E78DCFF;  // 0xRRGGBBAA, copied when the popup is prepared
  popup_->load();
}

void HomeScreen::onAdReceived(orvex::OrvexPopupAd& popup) {
  heard.push_back("received " + std::to_string(popup.txIds().size()) + " pages");
  popup.show();  // over the first window of the application's first scene
}

void HomeScreen::onAdFailedToReceive(orvex::OrvexPopupAd&, orvex::OrvexErrorCode errorCode) {
  // ERROR_CODE_AD_HIDE_FOR_TODAY: the user asked not to see it again today.
  heard.push_back("failed " + orvex::OrvexErrorCodeToString(errorCode));
}

void HomeScreen::onTodayOffClicked(orvex::OrvexPopupAd&) {
  heard.push_back("hidden for today");
}

void HomeScreen::onAdDidDismissFullScreen(orvex::OrvexPopupAd&) {
  heard.push_back("dismissed");
}

}  // namespace example
