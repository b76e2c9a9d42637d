#include "orvex/formats/popup/orvex_popup_ad.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "orvex/core/orvex.h"
#include "orvex/core/url.h"
#include "orvex/formats/ad_rules.h"
#include "orvex/formats/popup/orvex_popup_ad_view.h"
#include "orvex/server/orvex_api.h"
#include "orvex/server/server_error.h"
#include "orvex/web/link_opener.h"

namespace orvex {
namespace {

// The local calendar day (days since 1970-01-01 in the port's time zone at that instant) of a
// time in seconds since 1970. Stored values are untrusted: they are kept within the clock's range.
std::int64_t localDay(const Clock& clock, std::int64_t unixSeconds) {
  constexpr std::int64_t kLimit = 9'000'000'000;  // inside a nanosecond time_point's range
  const std::int64_t seconds = std::clamp(unixSeconds, -kLimit, kLimit);
  const std::int64_t local =
      seconds + clock.utcOffsetSeconds(WallTime(std::chrono::seconds(seconds)));
  constexpr std::int64_t kDay = 86'400;
  return local >= 0 ? local / kDay : -((-local + kDay - 1) / kDay);
}

}  // namespace

std::shared_ptr<OrvexPopupAd> OrvexPopupAd::create(std::string unitId) {
  return std::shared_ptr<OrvexPopupAd>(new OrvexPopupAd(std::move(unitId)));
}

OrvexPopupAd::OrvexPopupAd(std::string unitId)
    : adUnit_{std::move(unitId), AdUnitFormat::popupBottom} {}

OrvexPopupAd::~OrvexPopupAd() {
  // Its screen and pages belong to the main thread; the last owner may be elsewhere.
  const auto& dispatcher = popupAdViewController_ ? Orvex::shared().platform().dispatcher : nullptr;
  if (dispatcher && !dispatcher->isMainThread()) {
    dispatcher->mainQueue()->post(
        [controller = std::move(popupAdViewController_)]() mutable { controller.reset(); });
  }
}

void OrvexPopupAd::setUseCustomClick(bool custom) {
  useCustomClick_ = custom;
  if (popupAdViewController_) popupAdViewController_->useCustomClick = custom;
}

std::vector<std::string> OrvexPopupAd::creativeIds() const {
  std::vector<std::string> ids;
  ids.reserve(txIds_.size());
  for (const auto& txId : txIds_) ids.push_back(ad_rules::creativeIdFromTxId(txId));
  return ids;
}

// ---- hide for today ----

bool OrvexPopupAd::isHiddenForToday(const std::string& key) const {
  const auto& platform = Orvex::shared().platform();
  auto store = platform.store ? platform.store->suite(kStoreSuite) : nullptr;
  if (!store || !platform.clock) return false;
  if (!store->value(key)) return false;
  const std::int64_t storedSeconds = store->integer(key) / 1000;
  const WallTime now = platform.clock->now();
  const std::int64_t today =
      localDay(*platform.clock,
               std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count());
  // Hidden unless the mark's day is strictly earlier than today; a mark "in the future" (the
  // clock was set back) still hides.
  return localDay(*platform.clock, storedSeconds) >= today;
}

void OrvexPopupAd::markHiddenForToday(const std::string& key) const {
  const auto& platform = Orvex::shared().platform();
  auto store = platform.store ? platform.store->suite(kStoreSuite) : nullptr;
  if (!store || !platform.clock) return;
  store->set(key, Value(static_cast<std::int64_t>(unixMillis(platform.clock->now()))));
}

std::string OrvexPopupAd::campaignKey(const AdRes& ad) const {
  return std::string(kHideThisTodayKeyPrefix) + adUnit_.id + "_" + ad.cpId.value_or("");
}

// ---- load ----

void OrvexPopupAd::load() {
  if (adUnit_.id.empty()) return notify(OrvexMetricCode::invalid, OrvexErrorCode::invalidUnit);
  if (!Orvex::shared().isTargetDevice()) {
    return notify(OrvexMetricCode::invalid, OrvexErrorCode::notTargetCountry);
  }
  if (isHiddenForToday(kHideForTodayKeyPrefix + adUnit_.id)) {
    return notify(OrvexMetricCode::invalid, OrvexErrorCode::adHideForToday);
  }
  if (loaded_) return notify(OrvexMetricCode::invalid, OrvexErrorCode::adLoadDuplicated);
  if (isLoading_) return notify(OrvexMetricCode::invalid, OrvexErrorCode::adLoading);
  isLoading_ = true;
  isShown_ = false;
  txId_.clear();
  cpId_.clear();
  destinationURL_.reset();
  creativeId_.reset();
  request();
  ad_rules::refreshRemoteConfigIfStale();
}

void OrvexPopupAd::request() {
  if (ad_rules::isInactiveUnit(adUnit_.id)) {
    isLoading_ = false;
    return notify(OrvexMetricCode::invalid, OrvexErrorCode::adInactive);
  }
  // Answered on the request queue: the popup's state lives on the main queue, so the answer hops
  // there before it touches anything.
  std::weak_ptr<OrvexPopupAd> weak = weak_from_this();
  Orvex::shared().api().requestAds(
      adUnit_.id, [weak](std::optional<std::vector<AdRes>> ads, std::optional<ServerError> error) {
        ad_rules::onMainIfAlive<OrvexPopupAd>(
            weak, [ads = std::move(ads), error = std::move(error)](OrvexPopupAd& popup) mutable {
              popup.completeLoad(std::move(ads), std::move(error));
            });
      });
}

void OrvexPopupAd::completeLoad(std::optional<std::vector<AdRes>> ads,
                                std::optional<ServerError> error) {
  isLoading_ = false;
  txIds_.clear();
  cpIds_.clear();
  if (error) {
    const OrvexErrorCode code = errorCode(*error);
    logger_.log("request ad failed. " + keyString(code));
    return notify(OrvexMetricCode::invalid, code);
  }
  if (!ads) return notify(OrvexMetricCode::invalid, OrvexErrorCode::adNoFill);

  std::vector<AdRes> kept;
  for (auto& ad : *ads) {
    if (!isHiddenForToday(campaignKey(ad))) kept.push_back(std::move(ad));
  }
  // Only the first creative's limit counts.
  if (!kept.empty() && kept.front().limit && *kept.front().limit > 0 &&
      static_cast<std::size_t>(*kept.front().limit) < kept.size()) {
    kept.resize(static_cast<std::size_t>(*kept.front().limit));
  }
  if (kept.empty()) return notify(OrvexMetricCode::invalid, OrvexErrorCode::adNoFill);
  for (const auto& ad : kept) {
    if (!ad.creative || ad.creative->empty()) {
      return notify(OrvexMetricCode::invalid, OrvexErrorCode::adNoFill);
    }
    txIds_.push_back(ad.id);
    cpIds_.push_back(ad_rules::campaignIdFromCpId(ad.cpId));
  }

  std::weak_ptr<OrvexPopupAd> weak = weak_from_this();
  popupAdViewController_ = OrvexPopupAdViewController::create(
      adUnit_.id, std::move(kept),
      [weak](OrvexMetricCode code, std::optional<OrvexErrorCode> e, std::optional<AdRes> ad) {
        if (auto popup = weak.lock()) popup->controllerEvent(code, e, ad);
      });
  popupAdViewController_->delegate = std::weak_ptr<OrvexPopupAdViewControlelrDelegate>(weak);
  popupAdViewController_->useCustomClick = useCustomClick_;
  popupAdViewController_->backgroundColor = backgroundColor;
  popupAdViewController_->hideForTodayTextColor = hideForTodayTextColor;
  popupAdViewController_->closeTextColor = closeTextColor;
  popupAdViewController_->ctaTextColor = ctaTextColor;
}

void OrvexPopupAd::controllerEvent(OrvexMetricCode code, std::optional<OrvexErrorCode> error,
                                   const std::optional<AdRes>& ad) {
  if (code == OrvexMetricCode::adImpr || code == OrvexMetricCode::adClick) {
    txId_ = ad ? ad->id : "";
    cpId_ = ad ? ad_rules::campaignIdFromCpId(ad->cpId) : "";
    destinationURL_ = ad ? ad->destinationURL : std::nullopt;
    creativeId_ = ad ? std::optional(ad_rules::creativeIdFromTxId(ad->id)) : std::nullopt;
  }
  if (code == OrvexMetricCode::valid) loaded_ = true;
  notify(code, error);
}

// ---- show, open, close ----

void OrvexPopupAd::show(const std::shared_ptr<ViewController>&) {
  if (isLoading_) return notify(OrvexMetricCode::invalidShow, OrvexErrorCode::adLoading);
  if (isShown_) return notify(OrvexMetricCode::invalidShow, OrvexErrorCode::adShown);
  if (!loaded_) return notify(OrvexMetricCode::invalidShow, OrvexErrorCode::adEmpty);
  isShown_ = true;
  if (popupAdViewController_) popupAdViewController_->show();
}

void OrvexPopupAd::open(const std::optional<std::string>& url, bool useInAppBrowser) {
  const std::string text = url ? *url : destinationURL_.value_or("");
  auto parsed = Url::parse(text);
  if (!parsed) {
    logger_.log("failed to open: " + url.value_or(""));
    return;
  }
  ad_rules::onMainIfAlive<OrvexPopupAd>(
      weak_from_this(), [parsed = *parsed, useInAppBrowser](OrvexPopupAd& popup) {
        const auto& controller = popup.popupAdViewController_;
        auto presenter = controller && controller->view() ? topMostViewController() : nullptr;
        if (!presenter) return openExternally(parsed.text());
        openLink(presenter, parsed,
                 useInAppBrowser ? BrowserTarget::INTERNAL : BrowserTarget::EXTERNAL);
      });
}

void OrvexPopupAd::close() {
  ad_rules::onMainIfAlive<OrvexPopupAd>(weak_from_this(), [](OrvexPopupAd& popup) {
    if (const auto& controller = popup.popupAdViewController_) controller->close();
  });
}

// ---- the controller's taps ----

void OrvexPopupAd::popupAdViewControllerDidClickClose() {
  notifyClose(&OrvexPopupAdCloseDelegate::onClosed, &OrvexPopupAd::onClosed);
}

void OrvexPopupAd::popupAdViewControllerDidClickDim() {
  notifyClose(&OrvexPopupAdCloseDelegate::onDimClicked, &OrvexPopupAd::onDimClicked);
}

void OrvexPopupAd::popupAdViewControllerDidClickHideForToday(const std::optional<AdRes>& ad) {
  // Stored before the host hears of it, so a load the host starts from its callback is refused.
  const bool perCampaign = ad && ad->popupOptions && ad->popupOptions->useHideForToday &&
                           ad->popupOptions->useHideThisAdForToday;
  markHiddenForToday(perCampaign ? campaignKey(*ad) : kHideForTodayKeyPrefix + adUnit_.id);
  notifyClose(&OrvexPopupAdCloseDelegate::onTodayOffClicked, &OrvexPopupAd::onTodayOffClicked);
}

void OrvexPopupAd::notifyClose(void (OrvexPopupAdCloseDelegate::*operation)(OrvexPopupAd&),
                               Callback OrvexPopupAd::*closure) {
  ad_rules::onMainIfAlive<OrvexPopupAd>(weak_from_this(),
                                        [operation, closure](OrvexPopupAd& popup) {
                                          if (auto delegate = popup.closeDelegate())
                                            ((*delegate).*operation)(popup);
                                          // Copied before the call: a host may replace it from
                                          // inside.
                                          if (auto copy = popup.*closure) copy(popup);
                                        });
}

// ---- the host's callbacks ----

void OrvexPopupAd::notify(OrvexMetricCode code, std::optional<OrvexErrorCode> error) {
  ad_rules::onMainIfAlive<OrvexPopupAd>(weak_from_this(), [code, error](OrvexPopupAd& popup) {
    auto delegate = popup.delegate();
    auto call = [&popup](const Callback& callback) {
      if (auto copy = callback) copy(popup);
    };
    switch (code) {
      case OrvexMetricCode::valid:
        if (delegate) delegate->onAdReceived(popup);
        return call(popup.onAdReceived);
      case OrvexMetricCode::invalid: {
        const OrvexErrorCode e = error.value_or(OrvexErrorCode::adNoFill);
        if (delegate) delegate->onAdFailedToReceive(popup, e);
        if (auto copy = popup.onAdFailedToReceive) copy(popup, e);
        return;
      }
      case OrvexMetricCode::invalidShow: {
        const OrvexErrorCode e = error.value_or(OrvexErrorCode::internal);
        if (delegate) delegate->onAdFailedToShowFullScreen(popup, e);
        if (auto copy = popup.onAdFailedToShowFullScreen) copy(popup, e);
        return;
      }
      case OrvexMetricCode::adImpr:
        if (delegate) delegate->onAdImpression(popup);
        return call(popup.onAdImpression);
      case OrvexMetricCode::adClick:
        if (delegate) delegate->onAdClicked(popup);
        return call(popup.onAdClicked);
      case OrvexMetricCode::close:
        if (delegate) delegate->onAdDidDismissFullScreen(popup);
        call(popup.onAdDidDismissFullScreen);
        popup.popupAdViewController_.reset();
        return;
      case OrvexMetricCode::open:
        if (delegate) delegate->onAdDidPresentFullScreen(popup);
        return call(popup.onAdDidPresentFullScreen);
      case OrvexMetricCode::willClose:
        if (delegate) delegate->onAdWillDismissFullScreen(popup);
        return call(popup.onAdWillDismissFullScreen);
      case OrvexMetricCode::willOpen:
        if (delegate) delegate->onAdWillPresentFullScreen(popup);
        return call(popup.onAdWillPresentFullScreen);
      default:
        return;
    }
  });
}

}  // namespace orvex
