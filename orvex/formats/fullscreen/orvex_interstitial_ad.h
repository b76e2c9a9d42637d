#pragma once
// The interstitial: one full-screen HTML ad for one unit, shown over a controller of the host's.
// load() asks for a creative and prepares its screen off screen; onAdReceived comes once the page
// is ready, so show() puts a finished page on screen at once. Single use: one successful load, one
// show; the host makes a new object for the next ad.
//
// Threads: main thread for everything; every host callback is posted there and none reaches an
// ad the host has let go. A screen already up stays until it is closed.

#include <memory>
#include <string>

#include "orvex/formats/fullscreen/fullscreen_ad.h"
#include "orvex/formats/fullscreen/orvex_interstitial_ad_view_controller.h"

namespace orvex {

class OrvexInterstitialAd;
using OrvexInterstitialAdDelegate = FullScreenAdDelegate<OrvexInterstitialAd>;

class ORVEX_API OrvexInterstitialAd
    : public FullScreenAd<OrvexInterstitialAd, InterstitialInternalAccess> {
 public:
  static std::shared_ptr<OrvexInterstitialAd> create(std::string unitId);

  // Presents the prepared screen over `rootViewController`, animated.
  void show(const std::shared_ptr<ViewController>& rootViewController);

  // The process-wide slot a backfill module fills to serve interstitials (OrvexInternal::Loaders).
  static OrvexInternal::Loaders::Interstitial backfillLoader();
  static void setBackfillLoader(OrvexInternal::Loaders::Interstitial loader);

  // The prepared screen, for tests and tools.
  const std::shared_ptr<OrvexInterstitialAdViewController>& screen() const {
    return interstitialVC_;
  }

 private:
  friend class FullScreenAd<OrvexInterstitialAd, InterstitialInternalAccess>;
  explicit OrvexInterstitialAd(std::string unitId);

  void buildScreen(const AdRes& ad, ScreenEventHandler events);
  ShowHandler internalShowHandler() const override { return showBackfillAd_; }
  void setInternalShowHandler(ShowHandler handler) override {
    showBackfillAd_ = std::move(handler);
  }

  std::shared_ptr<OrvexInterstitialAdViewController> interstitialVC_;
  ShowHandler showBackfillAd_;
};

extern template class FullScreenAd<OrvexInterstitialAd, InterstitialInternalAccess>;

}  // namespace orvex
