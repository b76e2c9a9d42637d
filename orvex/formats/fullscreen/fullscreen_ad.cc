#include "orvex/formats/fullscreen/fullscreen_ad.h"

#include <utility>

#include "orvex/core/orvex.h"
#include "orvex/formats/ad_rules.h"
#include "orvex/formats/fullscreen/orvex_interstitial_ad.h"
#include "orvex/formats/fullscreen/orvex_rewarded_ad.h"
#include "orvex/server/orvex_api.h"
#include "orvex/server/server_error.h"

namespace orvex {

template <typename Ad, typename Access>
FullScreenAd<Ad, Access>::FullScreenAd(std::string unitId, AdUnitFormat format,
                                       const char* className)
    : logger_(className), adUnit_{std::move(unitId), format} {}

template <typename Ad, typename Access>
std::string FullScreenAd<Ad, Access>::creativeId() const {
  return ad_rules::creativeIdFromTxId(txId_);
}

template <typename Ad, typename Access>
void FullScreenAd<Ad, Access>::load() {
  if (adUnit_.id.empty()) return notify(OrvexMetricCode::invalid, OrvexErrorCode::invalidUnit);
  if (!Orvex::shared().isTargetDevice()) {
    return notify(OrvexMetricCode::invalid, OrvexErrorCode::notTargetCountry);
  }
  if (loaded_) return notify(OrvexMetricCode::invalid, OrvexErrorCode::adLoadDuplicated);
  if (isLoading_) return notify(OrvexMetricCode::invalid, OrvexErrorCode::adLoading);
  isLoading_ = true;
  isShown_ = false;
  if (auto loader = Ad::backfillLoader()) {
    loader(this->shared_from_this(), adCompletionHandler());
  } else {
    request();
  }
  ad_rules::refreshRemoteConfigIfStale();
}

template <typename Ad, typename Access>
void FullScreenAd<Ad, Access>::request() {
  if (ad_rules::isInactiveUnit(adUnit_.id)) {
    isLoading_ = false;
    return notify(OrvexMetricCode::invalid, OrvexErrorCode::adInactive);
  }
  Orvex::shared().api().requestAd(adUnit_.id, "", adCompletionHandler());
}

template <typename Ad, typename Access>
OrvexInternal::AdCompletion FullScreenAd<Ad, Access>::adCompletionHandler() {
  if (!adCompletionHandler_) {
    std::weak_ptr<Ad> weak = this->weak_from_this();
    adCompletionHandler_ = [weak](std::optional<AdRes> ad, std::optional<ServerError> error) {
      ad_rules::onMainIfAlive<Ad>(weak, [ad = std::move(ad), error = std::move(error)](Ad& self) {
        self.completeLoad(ad, error);
      });
    };
  }
  return adCompletionHandler_;
}

template <typename Ad, typename Access>
void FullScreenAd<Ad, Access>::completeLoad(std::optional<AdRes> ad,
                                            std::optional<ServerError> error) {
  isLoading_ = false;
  if (error) {
    const OrvexErrorCode code = errorCode(*error);
    logger_.log("request ad failed. " + OrvexErrorCodeToString(code));
    return notify(OrvexMetricCode::invalid, code);
  }
  if (!ad || ad->id.empty() || !ad->creative || ad->creative->empty()) {
    return notify(OrvexMetricCode::invalid, OrvexErrorCode::adNoFill);
  }
  // Received only once the screen says its page is ready to show.
  self().buildScreen(*ad, screenEvents(*ad));
}

template <typename Ad, typename Access>
ScreenEventHandler FullScreenAd<Ad, Access>::screenEvents(AdRes ad) {
  std::weak_ptr<Ad> weak = this->weak_from_this();
  return [weak, ad = std::move(ad)](OrvexMetricCode code, const std::string& txId) {
    auto strong = weak.lock();
    if (!strong) return;
    FullScreenAd& self = *strong;
    switch (code) {
      case OrvexMetricCode::valid:
        self.txId_ = ad.id;
        self.cpId_ = ad_rules::campaignIdFromCpId(ad.cpId);
        self.destinationURL_ = ad.destinationURL.value_or("");
        self.loaded_ = true;
        return self.notify(OrvexMetricCode::valid, std::nullopt);
      case OrvexMetricCode::invalid:
        return self.notify(OrvexMetricCode::invalid, OrvexErrorCode::network);
      case OrvexMetricCode::adClick:
        if (self.adUnit_.id.empty() || self.txId_.empty()) return;
        Orvex::shared().api().reportMetric(OrvexMetricCode::adClick, txId, self.adUnit_.id);
        return self.notify(OrvexMetricCode::adClick, std::nullopt);
      default:
        return self.notify(code, std::nullopt);
    }
  };
}

template <typename Ad, typename Access>
bool FullScreenAd<Ad, Access>::mayShow() {
  std::optional<OrvexErrorCode> refusal;
  if (isLoading_) {
    refusal = OrvexErrorCode::adLoading;
  } else if (isShown_) {
    refusal = OrvexErrorCode::adShown;
  } else if (!loaded_) {
    refusal = OrvexErrorCode::adEmpty;
  }
  if (refusal) notify(OrvexMetricCode::invalidShow, refusal);
  return !refusal;
}

template <typename Ad, typename Access>
void FullScreenAd<Ad, Access>::presentScreen(const std::shared_ptr<ViewController>& root,
                                             const std::shared_ptr<ViewController>& screen,
                                             bool animated) {
  if (!screen) return;
  if (!root || root->presentedViewController()) {
    logger_.log("show failed: no controller free to present from");
    return notify(OrvexMetricCode::invalidShow, OrvexErrorCode::internal);
  }
  root->present(screen, animated, {});
  Orvex::shared().api().reportMetric(OrvexMetricCode::adImpr, txId_, adUnit_.id);
  notify(OrvexMetricCode::adImpr, std::nullopt);
  isShown_ = true;
}

template <typename Ad, typename Access>
void FullScreenAd<Ad, Access>::shownByBackfill() {
  notify(OrvexMetricCode::adImpr, std::nullopt);
  isShown_ = true;
}

template <typename Ad, typename Access>
void FullScreenAd<Ad, Access>::notify(OrvexMetricCode code, std::optional<OrvexErrorCode> error) {
  ad_rules::onMainIfAlive<Ad>(this->weak_from_this(), [code, error](Ad& ad) {
    auto delegate = ad.delegate();
    // Callbacks are copied before the call: a host may replace them from inside one.
    auto call = [&ad](const Callback& callback) {
      if (auto copy = callback) copy(ad);
    };
    switch (code) {
      case OrvexMetricCode::valid:
        if (delegate) delegate->onAdReceived(ad);
        return call(ad.onAdReceived);
      case OrvexMetricCode::invalid: {
        const OrvexErrorCode e = error.value_or(OrvexErrorCode::adNoFill);
        if (delegate) delegate->onAdFailedToReceive(ad, e);
        if (auto copy = ad.onAdFailedToReceive) copy(ad, e);
        return;
      }
      case OrvexMetricCode::invalidShow: {
        const OrvexErrorCode e = error.value_or(OrvexErrorCode::internal);
        if (delegate) delegate->onAdFailedToShowFullScreen(ad, e);
        if (auto copy = ad.onAdFailedToShowFullScreen) copy(ad, e);
        return;
      }
      case OrvexMetricCode::adImpr:
        if (delegate) delegate->onAdImpression(ad);
        return call(ad.onAdImpression);
      case OrvexMetricCode::adClick:
        if (delegate) delegate->onAdClicked(ad);
        return call(ad.onAdClicked);
      case OrvexMetricCode::close:
        if (delegate) delegate->onAdDidDismissFullScreen(ad);
        return call(ad.onAdDidDismissFullScreen);
      case OrvexMetricCode::open:
        if (delegate) delegate->onAdDidPresentFullScreen(ad);
        return call(ad.onAdDidPresentFullScreen);
      case OrvexMetricCode::willClose:
        if (delegate) delegate->onAdWillDismissFullScreen(ad);
        return call(ad.onAdWillDismissFullScreen);
      case OrvexMetricCode::willOpen:
        if (delegate) delegate->onAdWillPresentFullScreen(ad);
        return call(ad.onAdWillPresentFullScreen);
      default:
        return;
    }
  });
}

template class FullScreenAd<OrvexInterstitialAd, InterstitialInternalAccess>;
template class FullScreenAd<OrvexRewardedAd, RewardedInternalAccess>;

}  // namespace orvex
