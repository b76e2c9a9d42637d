#include "orvex/formats/fullscreen/orvex_rewarded_ad.h"

namespace orvex {

std::shared_ptr<OrvexRewardedAd> OrvexRewardedAd::create(std::string unitId) {
  return std::shared_ptr<OrvexRewardedAd>(new OrvexRewardedAd(std::move(unitId)));
}

OrvexRewardedAd::OrvexRewardedAd(std::string unitId)
    : FullScreenAd(std::move(unitId), AdUnitFormat::rewarded, "OrvexRewardedAd") {}

OrvexInternal::Loaders::Rewarded OrvexRewardedAd::backfillLoader() {
  return OrvexInternal::Loaders::rewarded();
}

void OrvexRewardedAd::setBackfillLoader(OrvexInternal::Loaders::Rewarded loader) {
  OrvexInternal::Loaders::setRewarded(std::move(loader));
}

void OrvexRewardedAd::buildScreen(const AdRes& ad, ScreenEventHandler events) {
  rewardVC_ = OrvexRewardedAdViewController::create(
      ad.id, *ad.creative, ad.portrait.value_or(true),
      ad.browserTarget.value_or(BrowserTarget::EXTERNAL), std::move(events));
  // Without a screen the page can never be ready: say so rather than leave the load open.
  if (!rewardVC_) notify(OrvexMetricCode::invalid, OrvexErrorCode::internal);
}

void OrvexRewardedAd::show(const std::shared_ptr<ViewController>& rootViewController,
                           RewardHandler userDidEarnRewardHandler) {
  if (!mayShow()) return;
  if (showBackfillAd_) {
    showBackfillAd_(rootViewController, [handler = userDidEarnRewardHandler](int type, int amount) {
      if (handler) handler(type, amount);
    });
    return shownByBackfill();
  }
  if (!rewardVC_) return;
  rewardVC_->userDidEarnRewardHandler = std::move(userDidEarnRewardHandler);
  presentScreen(rootViewController, rewardVC_->viewController(), false);
}

}  // namespace orvex
