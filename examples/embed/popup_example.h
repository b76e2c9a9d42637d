#pragma once
// A host's home screen that greets the user with a popup, which the user may hide for the rest of
// the day: what README.md shows, compiled and run by the tests.

#include <memory>
#include <string>
#include <vector>

#include "orvex/formats/popup/orvex_popup_ad.h"

namespace example {

class HomeScreen : public orvex::OrvexPopupAdDelegate,
                   public orvex::OrvexPopupAdCloseDelegate,
                   public std::enable_shared_from_this<HomeScreen> {
 public:
  // The screen came up (main thread): ask for today's popup; it shows itself once its first page
  // has loaded.
  void appeared(const std::string& unitId);

  void onAdReceived(orvex::OrvexPopupAd& popup) override;
  void onAdFailedToReceive(orvex::OrvexPopupAd& popup, orvex::OrvexErrorCode errorCode) override;
  void onAdDidDismissFullScreen(orvex::OrvexPopupAd& popup) override;
  void onTodayOffClicked(orvex::OrvexPopupAd& popup) override;

  const std::shared_ptr<orvex::OrvexPopupAd>& popup() const { return popup_; }
  std::vector<std::string> heard;

 private:
  std::shared_ptr<orvex::OrvexPopupAd> popup_;  // the screen owns its popup
};

}  // namespace example
