#pragma once
// The rewarded ad: one full-screen video ad for one unit. Shaped like the interstitial (the same
// checks, request, callbacks and single use); its screen plays the creative's video natively under
// the page, and the page decides when the viewer has earned a reward: every reward message reaches
// the handler given to show(), on the main thread, as the page sends it.
//
// Threads: main thread for everything; every host callback is posted there and none reaches an
// ad the host has let go. A screen already up stays until it is closed.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "orvex/formats/fullscreen/fullscreen_ad.h"
#include "orvex/formats/fullscreen/orvex_rewarded_ad_view_controller.h"

namespace orvex {

class OrvexRewardedAd;
using OrvexRewardedAdDelegate = FullScreenAdDelegate<OrvexRewardedAd>;

class ORVEX_API OrvexRewardedAd : public FullScreenAd<OrvexRewardedAd, RewardedInternalAccess> {
 public:
  using RewardHandler = OrvexRewardedAdViewController::RewardHandler;

  static std::shared_ptr<OrvexRewardedAd> create(std::string unitId);

  // Presents the prepared screen over `rootViewController`, without animation; the page's
  // rewards go to `userDidEarnRewardHandler` (type, amount).
  void show(const std::shared_ptr<ViewController>& rootViewController,
            RewardHandler userDidEarnRewardHandler);

  // The process-wide slot a backfill module fills to serve rewarded ads (OrvexInternal::Loaders).
  static OrvexInternal::Loaders::Rewarded backfillLoader();
  static void setBackfillLoader(OrvexInternal::Loaders::Rewarded loader);

  // The prepared screen, for tests and tools.
  const std::shared_ptr<OrvexRewardedAdViewController>& screen() const { return rewardVC_; }

 private:
  friend class FullScreenAd<OrvexRewardedAd, RewardedInternalAccess>;
  explicit OrvexRewardedAd(std::string unitId);

  void buildScreen(const AdRes& ad, ScreenEventHandler events);
  ShowHandler internalShowHandler() const override { return showBackfillAd_; }
  void setInternalShowHandler(ShowHandler handler) override {
    showBackfillAd_ = std::move(handler);
  }

  std::shared_ptr<OrvexRewardedAdViewController> rewardVC_;
  ShowHandler showBackfillAd_;
};

extern template class FullScreenAd<OrvexRewardedAd, RewardedInternalAccess>;

}  // namespace orvex
