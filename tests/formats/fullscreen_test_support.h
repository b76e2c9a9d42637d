#pragma once
// A host of full-screen ads (tests/support/ad_flow.h) and every callback it hears, in order.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "orvex/formats/fullscreen/fullscreen_ad.h"
#include "tests/support/ad_flow.h"

namespace orvex::testing_support {

template <typename Ad>
struct FullScreenHost : FullScreenAdDelegate<Ad> {
  std::vector<std::string> events;
  void onAdReceived(Ad&) override { events.push_back("received"); }
  void onAdFailedToReceive(Ad&, OrvexErrorCode code) override {
    events.push_back("failed " + OrvexErrorCodeToString(code));
  }
  void onAdFailedToShowFullScreen(Ad&, OrvexErrorCode code) override {
    events.push_back("showFailed " + OrvexErrorCodeToString(code));
  }
  void onAdWillPresentFullScreen(Ad&) override { events.push_back("willPresent"); }
  void onAdDidPresentFullScreen(Ad&) override { events.push_back("didPresent"); }
  void onAdWillDismissFullScreen(Ad&) override { events.push_back("willDismiss"); }
  void onAdDidDismissFullScreen(Ad&) override { events.push_back("didDismiss"); }
  std::vector<std::string> lastTwo() const {
    return events.size() < 2 ? events : std::vector<std::string>(events.end() - 2, events.end());
  }
};

class FullScreenFlow : public AdFlow {
 protected:
  // Impressions and clicks come from the delegate's optional operations' closure twins, so both
  // paths are seen.
  template <typename Ad>
  void hookCallbacks(Ad& ad) {
    ad.onAdImpression = [this](Ad&) { events().push_back("impression"); };
    ad.onAdClicked = [this](Ad&) { events().push_back("clicked"); };
  }
  virtual std::vector<std::string>& events() = 0;
};

}  // namespace orvex::testing_support
