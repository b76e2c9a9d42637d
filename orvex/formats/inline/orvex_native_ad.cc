#include "orvex/formats/inline/orvex_native_ad.h"

#include <utility>

#include "orvex/core/file_downloader.h"
#include "orvex/core/json.h"
#include "orvex/core/orvex.h"
#include "orvex/core/url.h"
#include "orvex/formats/ad_rules.h"
#include "orvex/server/orvex_api.h"
#include "orvex/server/server_error.h"
#include "orvex/web/link_opener.h"
#include "orvex/web/native_ad_web_view_controller.h"

namespace orvex {
namespace {

// Fills the file cache ahead of the view binding; nothing waits for it.
void prefetchImages(const AdRes& ad) {
  for (const auto& [url, category] : {std::pair{ad.icon, "icon"}, std::pair{ad.cover, "cover"}}) {
    if (url && Url::parse(*url)) FileDownloader::shared()->download(*url, category);
  }
}

}  // namespace

std::shared_ptr<OrvexNativeAd> OrvexNativeAd::create(std::string unitId, std::string contextId) {
  return std::shared_ptr<OrvexNativeAd>(new OrvexNativeAd(std::move(unitId), std::move(contextId)));
}

OrvexNativeAd::OrvexNativeAd(std::string unitId, std::string contextId)
    : unitId_(std::move(unitId)), contextId_(std::move(contextId)) {}

// The web controller releases its views on the main thread by itself.
OrvexNativeAd::~OrvexNativeAd() = default;

std::string OrvexNativeAd::creativeId() const {
  return ad_rules::creativeIdFromTxId(txId_);
}

bool OrvexNativeAd::isBackfilled() const {
  return !txId_.empty() && ad_rules::isBackfilledTxId(txId_);
}

Size OrvexNativeAd::creativeSize() const {
  if (!adRes_ || !adRes_->creativeSize) return Size{};
  return Size{adRes_->creativeSize->w, adRes_->creativeSize->h};
}

std::string OrvexNativeAd::field(std::optional<std::string> AdRes::*member) const {
  return adRes_ ? ((*adRes_).*member).value_or("") : std::string();
}

std::optional<std::string> OrvexNativeAd::destinationURL() const {
  return adRes_ ? adRes_->destinationURL : std::nullopt;
}
std::string OrvexNativeAd::icon() const {
  return field(&AdRes::icon);
}
std::string OrvexNativeAd::cover() const {
  return field(&AdRes::cover);
}
std::string OrvexNativeAd::advertiser() const {
  return field(&AdRes::advertiser);
}
std::string OrvexNativeAd::advertiserURL() const {
  return field(&AdRes::advertiserURL);
}
std::string OrvexNativeAd::headline() const {
  return field(&AdRes::headline);
}
std::string OrvexNativeAd::body() const {
  return field(&AdRes::body);
}
std::string OrvexNativeAd::creative() const {
  return field(&AdRes::creative);
}
std::string OrvexNativeAd::callToAction() const {
  return field(&AdRes::callToAction);
}
std::string OrvexNativeAd::asset() const {
  return field(&AdRes::asset);
}

ValueDict OrvexNativeAd::tag(std::optional<std::string> AdRes::*member) const {
  if (!adRes_ || !((*adRes_).*member)) return {};
  auto value = json::parse(*((*adRes_).*member));
  if (!value) {
    logger_.log("parsing error");
    return {};
  }
  const ValueDict* members = value->asDict();
  return members ? *members : ValueDict{};
}

ValueDict OrvexNativeAd::accountTag() const {
  return tag(&AdRes::accountTag);
}
ValueDict OrvexNativeAd::creativeTag() const {
  return tag(&AdRes::creativeTag);
}

OrvexNativeAdProfile OrvexNativeAd::profile() const {
  if (!adRes_ || !adRes_->profile) return {};
  const AdProfile& p = *adRes_->profile;
  return {p.displayLogo.value_or(""), p.displayName.value_or(""), p.link};
}

std::map<std::string, std::string> OrvexNativeAd::extra() const {
  std::map<std::string, std::string> out;
  if (!adRes_ || !adRes_->extra) return out;
  for (const auto& e : *adRes_->extra) out[e.id.value_or("")] = e.text.value_or("");
  return out;
}

std::optional<BrowserTarget> OrvexNativeAd::browserTarget() const {
  return adRes_ ? adRes_->browserTarget : std::nullopt;
}

int OrvexNativeAd::browserTargetValue() const {
  return browserTarget() == BrowserTarget::INTERNAL ? 1 : 0;
}

void OrvexNativeAd::load() {
  if (unitId_.empty()) return notify(OrvexMetricCode::invalid, OrvexErrorCode::invalidUnit);
  if (loaded_) return notify(OrvexMetricCode::invalid, OrvexErrorCode::adLoadDuplicated);
  if (isLoading_) return notify(OrvexMetricCode::invalid, OrvexErrorCode::adLoading);
  isLoading_ = true;
  if (auto loader = OrvexInternal::Loaders::native()) {
    loader(shared_from_this(), adCompletionHandler());
  } else if (!Orvex::shared().isTargetDevice()) {
    isLoading_ = false;
    return notify(OrvexMetricCode::invalid, OrvexErrorCode::notTargetCountry);
  } else {
    request();
  }
  ad_rules::refreshRemoteConfigIfStale();
}

void OrvexNativeAd::request() {
  if (ad_rules::isInactiveUnit(unitId_)) {
    isLoading_ = false;
    return notify(OrvexMetricCode::invalid, OrvexErrorCode::adInactive);
  }
  Orvex::shared().api().requestAd(unitId_, contextId_, adCompletionHandler());
}

OrvexInternal::AdCompletion OrvexNativeAd::adCompletionHandler() {
  if (!adCompletionHandler_) {
    std::weak_ptr<OrvexNativeAd> weak = weak_from_this();
    adCompletionHandler_ = [weak](std::optional<AdRes> ad, std::optional<ServerError> error) {
      // Where the answer arrives (the request queue), so the main thread never waits on files.
      if (!error && ad && !ad->id.empty() && !weak.expired()) prefetchImages(*ad);
      ad_rules::onMainIfAlive<OrvexNativeAd>(
          weak, [ad = std::move(ad), error = std::move(error)](OrvexNativeAd& native) {
            native.completeLoad(ad, error);
          });
    };
  }
  return adCompletionHandler_;
}

void OrvexNativeAd::completeLoad(std::optional<AdRes> ad, std::optional<ServerError> error) {
  isLoading_ = false;
  if (error) {
    const OrvexErrorCode code = errorCode(*error);
    logger_.log("request ad failed. " + OrvexErrorCodeToString(code));
    return notify(OrvexMetricCode::invalid, code);
  }
  if (!ad || ad->id.empty()) return notify(OrvexMetricCode::invalid, OrvexErrorCode::adNoFill);
  adRes_ = std::move(ad);
  txId_ = adRes_->id;
  cpId_ = ad_rules::campaignIdFromCpId(adRes_->cpId);
  if (!adRes_->creative) {
    loaded_ = true;
    return notify(OrvexMetricCode::valid, std::nullopt);
  }
  // Received once the page finished, or failed without it; either way the ad is spent.
  std::weak_ptr<OrvexNativeAd> weak = weak_from_this();
  nativeAdViewController_ = OrvexNativeAdWebViewController::create(
      *adRes_->creative,
      browserTargetValue() == 1 ? BrowserTarget::INTERNAL : BrowserTarget::EXTERNAL,
      [weak](OrvexMetricCode code) {
        if (auto native = weak.lock()) {
          native->loaded_ = true;
          native->notify(code, std::nullopt);
        }
      });
}

void OrvexNativeAd::open(const std::optional<std::string>& url, bool useInAppBrowser) {
  const std::string text = url ? *url : destinationURL().value_or("");
  auto parsed = Url::parse(text);
  if (!parsed) {
    logger_.log("failed to open: " + url.value_or(""));
    return;
  }
  ad_rules::onMainIfAlive<OrvexNativeAd>(
      weak_from_this(), [parsed = *parsed, useInAppBrowser](OrvexNativeAd& native) {
        if (!firstSceneKeyWindow()) return;
        auto presenter = topMostViewController();
        if (!presenter) return;
        const BrowserTarget target = native.browserTarget().value_or(
            useInAppBrowser ? BrowserTarget::INTERNAL : BrowserTarget::EXTERNAL);
        openLink(presenter, parsed, target);
      });
}

void OrvexNativeAd::notify(OrvexMetricCode code, std::optional<OrvexErrorCode> error) {
  // Callbacks are copied before the call: a host may replace them from inside one.
  ad_rules::onMainIfAlive<OrvexNativeAd>(weak_from_this(), [code, error](OrvexNativeAd& ad) {
    auto delegate = ad.delegate();
    switch (code) {
      case OrvexMetricCode::valid: {
        if (delegate) delegate->onAdReceived(ad);
        if (auto callback = ad.onAdReceived) callback(ad);
        break;
      }
      case OrvexMetricCode::invalid: {
        const OrvexErrorCode e = error.value_or(OrvexErrorCode::adNoFill);
        if (delegate) delegate->onAdFailedToReceive(ad, e);
        if (auto callback = ad.onAdFailedToReceive) callback(ad, e);
        break;
      }
      case OrvexMetricCode::adImpr: {
        // The view and the page may both see it: the service and the host hear it once.
        if (std::exchange(ad.isImpressed_, true)) break;
        Orvex::shared().api().reportMetric(OrvexMetricCode::adImpr, ad.txId_, ad.unitId_);
        if (delegate) delegate->onAdImpression(ad);
        if (auto callback = ad.onAdImpression) callback(ad);
        break;
      }
      case OrvexMetricCode::adClick: {
        if (delegate) delegate->onAdClicked(ad);
        if (auto callback = ad.onAdClicked) callback(ad);
        if (!std::exchange(ad.isClicked_, true)) {
          Orvex::shared().api().reportMetric(OrvexMetricCode::adClick, ad.txId_, ad.unitId_);
        }
        break;
      }
      default:
        break;
    }
  });
}

}  // namespace orvex
