#include "orvex/formats/fullscreen/orvex_interstitial_ad.h"

namespace orvex {

std::shared_ptr<OrvexInterstitialAd> OrvexInterstitialAd::create(std::string unitId) {
  return std::shared_ptr<OrvexInterstitialAd>(new OrvexInterstitialAd(std::move(unitId)));
}

OrvexInterstitialAd::OrvexInterstitialAd(std::string unitId)
    : FullScreenAd(std::move(unitId), AdUnitFormat::interstitial, "OrvexInterstitialAd") {}

OrvexInternal::Loaders::Interstitial OrvexInterstitialAd::backfillLoader() {
  return OrvexInternal::Loaders::interstitial();
}

void OrvexInterstitialAd::setBackfillLoader(OrvexInternal::Loaders::Interstitial loader) {
  OrvexInternal::Loaders::setInterstitial(std::move(loader));
}

void OrvexInterstitialAd::buildScreen(const AdRes& ad, ScreenEventHandler events) {
  interstitialVC_ = OrvexInterstitialAdViewController::create(
      ad.id, *ad.creative, ad.portrait.value_or(true),
      ad.browserTarget.value_or(BrowserTarget::EXTERNAL), std::move(events));
  // Without a screen the page can never be ready: say so rather than leave the load open.
  if (!interstitialVC_) notify(OrvexMetricCode::invalid, OrvexErrorCode::internal);
}

void OrvexInterstitialAd::show(const std::shared_ptr<ViewController>& rootViewController) {
  if (!mayShow()) return;
  if (showBackfillAd_) {
    showBackfillAd_(rootViewController);
    return shownByBackfill();
  }
  if (interstitialVC_) presentScreen(rootViewController, interstitialVC_->viewController(), true);
}

}  // namespace orvex
