#include "orvex/formats/fullscreen/orvex_splash_ad.h"

#include <algorithm>

#include "orvex/core/file_downloader.h"
#include "orvex/core/orvex.h"
#include "orvex/core/url.h"
#include "orvex/formats/ad_rules.h"
#include "orvex/server/orvex_api.h"
#include "orvex/server/server_error.h"

namespace orvex {

double splash::clampDisplayDuration(double seconds, bool* outOfRange) {
  // NaN compares false with everything: it counts as too short.
  const double clamped =
      seconds >= kMinDisplayDuration ? std::min(seconds, kMaxDisplayDuration) : kMinDisplayDuration;
  if (outOfRange) *outOfRange = clamped != seconds;
  return clamped;
}

std::optional<Rect> splash::aspectFit(const Image& image, Size area) {
  if (image.pixelWidth <= 0 || image.pixelHeight <= 0 || !(area.width > 0) || !(area.height > 0)) {
    return std::nullopt;
  }
  const double scale = std::min(area.width / image.pixelWidth, area.height / image.pixelHeight);
  const double w = image.pixelWidth * scale;
  const double h = image.pixelHeight * scale;
  return Rect((area.width - w) / 2, (area.height - h) / 2, w, h);
}

std::shared_ptr<OrvexSplashAd> OrvexSplashAd::create(std::string unitId, double adRequestTimeout) {
  std::shared_ptr<OrvexSplashAd> ad(new OrvexSplashAd(std::move(unitId), adRequestTimeout));
  ad->cache_ = OrvexSplashAdCache::create(ad->unitId_);
  ad->storedListStale_ = ad->cache_->isStale();
  std::weak_ptr<OrvexSplashAd> weak = ad;
  ad->imageSource_ = ad->cache_->loadStoredAd([weak] {
    ad_rules::onMainIfAlive<OrvexSplashAd>(weak,
                                           [](OrvexSplashAd& self) { self.cachedImageRead(); });
  });
  return ad;
}

OrvexSplashAd::OrvexSplashAd(std::string unitId, double adRequestTimeout)
    : unitId_(std::move(unitId)), adRequestTimeout_(adRequestTimeout) {}

OrvexSplashAd::~OrvexSplashAd() {
  logger_.log("deinit");
}

std::string OrvexSplashAd::txId() const {
  auto ad = cache_->cachedAdRes();
  return ad ? ad->id : std::string();
}
std::string OrvexSplashAd::campaignId() const {
  auto ad = cache_->cachedAdRes();
  return ad ? ad_rules::campaignIdFromCpId(ad->cpId) : std::string();
}
std::string OrvexSplashAd::destinationURL() const {
  auto ad = cache_->cachedAdRes();
  return ad ? ad->destinationURL.value_or("") : std::string();
}
std::string OrvexSplashAd::creativeId() const {
  return ad_rules::creativeIdFromTxId(txId());
}

std::optional<double> OrvexSplashAd::serverDisplayDuration() const {
  auto ad = cache_->cachedAdRes();
  if (!ad || !ad->splashCloseTime) return std::nullopt;
  return splash::clampDisplayDuration(*ad->splashCloseTime / 1000);
}

Subscription OrvexSplashAd::observeLoading(std::function<void(bool)> observer) {
  const int token = ++nextObserver_;
  loadingObservers_.emplace_back(token, std::move(observer));
  return Subscription([weak = weak_from_this(), token] {
    if (auto self = weak.lock()) {
      std::erase_if(self->loadingObservers_, [token](const auto& o) { return o.first == token; });
    }
  });
}

void OrvexSplashAd::setLoading(bool loading) {
  if (isLoading_ == loading) return;
  isLoading_ = loading;
  auto observers = loadingObservers_;  // an observer may unsubscribe
  for (const auto& [token, observer] : observers) {
    if (observer) observer(loading);
  }
}

void OrvexSplashAd::load() {
  if (unitId_.empty()) return notify(OrvexMetricCode::invalid, OrvexErrorCode::invalidUnit);
  if (!Orvex::shared().isTargetDevice()) {
    notify(OrvexMetricCode::invalid, OrvexErrorCode::notTargetCountry);
    if (auto suite = Orvex::shared().platform().store->suite(cache_->moduleName())) {
      suite->remove(unitId_);
    }
    return;
  }
  if (loaded_) return notify(OrvexMetricCode::invalid, OrvexErrorCode::adLoadDuplicated);

  if (imageSource_ == OrvexSplashAdCache::ImageSource::disk) {
    awaitCachedImage();
  } else if (cache_->adImage()) {
    loaded_ = true;
    notify(OrvexMetricCode::valid);
  } else if (storedListStale_ && adRequestTimeout_ > 0) {
    requestNow();
  } else {
    notify(OrvexMetricCode::invalid, OrvexErrorCode::adNoFill);
  }

  if (std::exchange(requestAdOnce_, false)) {
    refreshInBackground();
    ad_rules::refreshRemoteConfigIfStale();
  }
}

// The stored ad's image is on disk: read and decoded off the main thread, which takes
// milliseconds; a start waits for it (bounded) rather than showing nothing.
void OrvexSplashAd::awaitCachedImage() {
  if (cachedImageDone_)
    return settle(cache_->adImage() ? std::nullopt : std::optional(OrvexErrorCode::adNoFill));
  waiting_ = Wait::cachedImage;
  setLoading(true);
  std::weak_ptr<OrvexSplashAd> weak = weak_from_this();
  adRequestTimeoutTimer_ = Orvex::shared().platform().dispatcher->scheduleTimer(
      secondsToDuration(splash::kCachedImageWaitSeconds), false, [weak] {
        if (auto self = weak.lock()) self->boundPassed();
      });
}

void OrvexSplashAd::cachedImageRead() {
  cachedImageDone_ = true;
  if (waiting_ != Wait::cachedImage) return;
  // An image that does not decode is no ad: nothing is shown rather than a blank screen.
  settle(cache_->adImage() ? std::nullopt : std::optional(OrvexErrorCode::adNoFill));
}

void OrvexSplashAd::requestNow() {
  if (!requestAdOnce_ || ad_rules::isInactiveUnit(unitId_)) {
    return notify(OrvexMetricCode::invalid, OrvexErrorCode::adNoFill);
  }
  waiting_ = Wait::request;
  setLoading(true);
  std::weak_ptr<OrvexSplashAd> weak = weak_from_this();
  adRequestTimeoutTimer_ = Orvex::shared().platform().dispatcher->scheduleTimer(
      secondsToDuration(adRequestTimeout_), false, [weak] {
        if (auto self = weak.lock()) self->boundPassed();
      });
  Orvex::shared().api().requestAds(
      unitId_, [weak](std::optional<std::vector<AdRes>> ads, std::optional<ServerError> error) {
        ad_rules::onMainIfAlive<OrvexSplashAd>(
            weak, [ads = std::move(ads), error = std::move(error)](OrvexSplashAd& self) {
              self.completeRequest(ads, error);
            });
      });
}

void OrvexSplashAd::boundPassed() {
  if (waiting_ == Wait::none) return;
  const bool request = waiting_ == Wait::request;
  if (request) adRequestTimeoutExpired_ = true;
  settle(request ? OrvexErrorCode::network : OrvexErrorCode::adNoFill);
}

void OrvexSplashAd::completeRequest(std::optional<std::vector<AdRes>> ads,
                                    std::optional<ServerError> error) {
  if (adRequestTimeoutExpired_ || waiting_ != Wait::request) return;
  if (error) {
    logger_.log("request ad failed. " + error->description());
    return settle(OrvexErrorCode::network);
  }
  if (!ads || ads->empty()) return settle(OrvexErrorCode::adNoFill);
  auto selected = cache_->selectAd(*ads);
  cache_->setCachedAdRes(selected);
  if (!selected || !Url::parse(*selected->creative)) {
    cache_->setAdImage(std::nullopt);
    return settle(OrvexErrorCode::network);
  }
  // Even a file already on disk is read and decoded off the main thread.
  std::weak_ptr<OrvexSplashAd> weak = weak_from_this();
  Orvex::shared()
      .platform()
      .dispatcher->globalQueue(QueuePriority::userInitiated)
      ->post([weak, url = *selected->creative] {
        FileDownloader::shared()->downloadImage(url, "ad", [weak](std::optional<Image> image) {
          ad_rules::onMainIfAlive<OrvexSplashAd>(weak,
                                                 [image = std::move(image)](OrvexSplashAd& self) {
                                                   self.requestedImageArrived(image);
                                                 });
        });
      });
}

void OrvexSplashAd::requestedImageArrived(std::optional<Image> image) {
  if (adRequestTimeoutExpired_ || waiting_ != Wait::request) return;
  if (image) cache_->setAdImage(std::move(image));
  settle(image ? std::nullopt : std::optional(OrvexErrorCode::network));
}

void OrvexSplashAd::settle(std::optional<OrvexErrorCode> error) {
  waiting_ = Wait::none;
  // Stopped here, not when the host hears of it: a bound firing in between must not undo it.
  adRequestTimeoutTimer_.reset();
  if (error) return notify(OrvexMetricCode::invalid, error);
  loaded_ = true;
  notify(OrvexMetricCode::valid);
}

void OrvexSplashAd::refreshInBackground() {
  if (ad_rules::isInactiveUnit(unitId_)) return;
  // The cache, not the ad: the list is for the next start, whether this ad is still there or not.
  Orvex::shared().api().requestAds(unitId_, [cache = cache_](std::optional<std::vector<AdRes>> ads,
                                                             std::optional<ServerError> error) {
    if (error) {
      SimpleLogger("OrvexSplashAd").log("request ad failed. " + error->description());
      return;
    }
    cache->saveAds(ads.value_or(std::vector<AdRes>{}));
  });
}

void OrvexSplashAd::notify(OrvexMetricCode code, std::optional<OrvexErrorCode> error,
                           bool impressed) {
  ad_rules::onMainIfAlive<OrvexSplashAd>(
      weak_from_this(),
      [code, error, impressed](OrvexSplashAd& self) { self.deliver(code, error, impressed); });
}

void OrvexSplashAd::deliver(OrvexMetricCode code, std::optional<OrvexErrorCode> error,
                            bool impressed) {
  auto delegate = delegate_.lock();
  switch (code) {
    case OrvexMetricCode::valid: {
      setLoading(false);
      adRequestTimeoutTimer_.reset();
      if (delegate) delegate->onAdReceived(*this);
      if (auto copy = onAdReceived) copy(*this);
      return;
    }
    case OrvexMetricCode::invalid: {
      setLoading(false);
      adRequestTimeoutTimer_.reset();
      const OrvexErrorCode e = error.value_or(OrvexErrorCode::adNoFill);
      if (delegate) delegate->onAdFailedToReceive(*this, e);
      if (auto copy = onAdFailedToReceive) copy(*this, e);
      return;
    }
    case OrvexMetricCode::adImpr: {
      Orvex::shared().api().reportMetric(OrvexMetricCode::adImpr, txId(), unitId_);
      if (delegate) delegate->onAdImpression(*this);
      if (auto copy = onAdImpression) copy(*this);
      return;
    }
    case OrvexMetricCode::close: {
      if (delegate) delegate->onAdClose(*this, impressed);
      if (auto copy = onAdClose) copy(*this, impressed);
      return;
    }
    default:
      return;
  }
}

}  // namespace orvex
