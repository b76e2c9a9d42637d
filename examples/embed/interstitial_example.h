#pragma once
// A host screen that shows an interstitial between levels: what README.md shows, compiled and run
// by the tests.

#include <memory>
#include <string>
#include <vector>

#include "orvex/formats/fullscreen/orvex_interstitial_ad.h"

namespace example {

class LevelScreen : public orvex::OrvexInterstitialAdDelegate,
                    public std::enable_shared_from_this<LevelScreen> {
 public:
  // Loads an interstitial for the next break between levels (main thread).
  void prepareInterstitial(const std::string& unitId);
  // Shows it over `root` when one is ready; false when there is none (the game goes on).
  bool levelFinished(const std::shared_ptr<orvex::ViewController>& root);

  void onAdReceived(orvex::OrvexInterstitialAd& ad) override;
  void onAdFailedToReceive(orvex::OrvexInterstitialAd& ad,
                           orvex::OrvexErrorCode errorCode) override;
  void onAdDidDismissFullScreen(orvex::OrvexInterstitialAd& ad) override;

  const std::shared_ptr<orvex::OrvexInterstitialAd>& ad() const { return interstitial_; }
  std::vector<std::string> heard;

 private:
  std::shared_ptr<orvex::OrvexInterstitialAd> interstitial_;  // the screen owns its ad
  std::string unitId_;
};

}  // namespace example
