#include "orvex/formats/inline/orvex_banner.h"

#include <utility>

#include "orvex/core/orvex.h"
#include "orvex/core/url.h"
#include "orvex/formats/ad_rules.h"
#include "orvex/platform/bundle.h"
#include "orvex/platform/files.h"
#include "orvex/platform/view.h"
#include "orvex/server/orvex_api.h"
#include "orvex/server/server_error.h"
#include "orvex/web/ad_navigation.h"
#include "orvex/web/ad_player_script_manager.h"
#include "orvex/web/background_reload_manager.h"
#include "orvex/web/html_content.h"
#include "orvex/web/link_opener.h"

namespace orvex {
namespace {

constexpr const char* kCarouselResource = "embla-carousel.js";
constexpr const char* kUnblockTracking = "window.adTrackingControl.unblock();";
constexpr const char* kBlockTracking = "window.adTrackingControl.block();";

std::string carouselAutoplayScript(bool visible) {
  const std::string w = visible ? "true" : "false";
  return "javascript:(function() {\n"
         "    if (typeof emblaApi !== 'undefined' && emblaApi) {\n"
         "        var plugins = emblaApi.plugins();\n"
         "\n"
         "        if (plugins && plugins.autoplay) {\n"
         "            if (!" +
         w +
         ") {\n"
         "                plugins.autoplay.stop();\n"
         "            } else {\n"
         "                var isAlreadyPlaying = plugins.autoplay.isPlaying();\n"
         "\n"
         "                if (!isAlreadyPlaying) {\n"
         "                    plugins.autoplay.play();\n"
         "                }\n"
         "            }\n"
         "        }\n"
         "    } else {\n"
         "        // Fallback: try to find embla in other ways\n"
         "        if (!" +
         w +
         ") {\n"
         "            // Clear all intervals as fallback\n"
         "            for (var i = 1; i < 50; i++) {\n"
         "                window.clearInterval(i);\n"
         "            }\n"
         "        }\n"
         "    }\n"
         "})();";
}

// The carousel library every banner page gets, when the SDK's resource directory ships it. A
// small local file, read once per banner as the platform reads its bundle resources.
std::optional<std::string> carouselLibrary(const OrvexPlatform& platform) {
  if (!platform.bundle || !platform.files) return std::nullopt;
  auto dir = platform.bundle->sdkResourceDirectory();
  if (!dir) return std::nullopt;
  return platform.files->readFile(*dir / kCarouselResource);
}

bool onMainThread() {
  const auto& dispatcher = Orvex::shared().platform().dispatcher;
  return !dispatcher || dispatcher->isMainThread();
}

}  // namespace

std::optional<OrvexBannerSize> orvexBannerSizeFromRaw(std::string_view raw) {
  if (raw == "H50") return OrvexBannerSize::H50;
  if (raw == "H80") return OrvexBannerSize::H80;
  if (raw == "H100") return OrvexBannerSize::H100;
  return std::nullopt;
}

std::string rawValue(OrvexBannerSize size) {
  switch (size) {
    case OrvexBannerSize::H50:
      return "H50";
    case OrvexBannerSize::H80:
      return "H80";
    case OrvexBannerSize::H100:
      return "H100";
  }
  return "";
}

std::shared_ptr<OrvexBanner> OrvexBanner::create(std::string unitId, std::string contextId) {
  std::shared_ptr<OrvexBanner> banner(new OrvexBanner(std::move(unitId), std::move(contextId)));
  banner->setUp();
  return banner;
}

OrvexBanner::OrvexBanner(std::string unitId, std::string contextId)
    : unitId_(std::move(unitId)), contextId_(std::move(contextId)) {}

void OrvexBanner::setUp() {
  const auto& platform = Orvex::shared().platform();
  std::shared_ptr<OrvexBanner> self = shared_from_this();
  if (platform.ui) {
    view_ = platform.ui->makeView();
    WebViewConfiguration configuration;
    configuration.allowsInlineMediaPlayback = true;
    configuration.mediaPlaybackRequiresUserAction = false;
    configuration.group = WebContentGroup::ads;
    webView_ = platform.ui->makeWebView(configuration);
    if (auto library = carouselLibrary(platform)) {
      webView_->addUserScript(UserScript{std::move(*library),
                                         UserScriptInjectionTime::atDocumentStart,
                                         /*forMainFrameOnly=*/false});
    }
    webView_->setFillsSuperview(true);
    webView_->setScrollEnabled(false);
    webView_->setBackgroundColor(0x00000000);
    webView_->setOpaque(false);
    webView_->setNavigationDelegate(std::weak_ptr<WebViewNavigationDelegate>(self));
    view_->addSubview(webView_);
  }
  visibilityTracker_ = VisibilityTracker::create();
  visibilityTracker_->setView(view_);
  visibilityTracker_->setDelegate(std::weak_ptr<VisibilityTrackerDelegate>(self));
  videoVisibilityTracker_ = VideoVisibilityTracker::create();
  videoVisibilityTracker_->setView(view_);
  videoVisibilityTracker_->setDelegate(std::weak_ptr<VideoVisibilityTrackerDelegate>(self));
  carouselVisibilityTracker_ = CarouselVisibilityTracker::create();
  carouselVisibilityTracker_->setView(view_);
  carouselVisibilityTracker_->setDelegate(std::weak_ptr<CarouselVisibilityTrackerDelegate>(self));
  backgroundReloadManager_ = BackgroundReloadManager::create(webView_, 30.0);
}

OrvexBanner::~OrvexBanner() {
  // Trackers and views belong to the main thread; the last owner may be a module's thread.
  auto teardown = [view = std::move(view_), webView = std::move(webView_),
                   visibility = std::move(visibilityTracker_),
                   video = std::move(videoVisibilityTracker_),
                   carousel = std::move(carouselVisibilityTracker_),
                   reload = std::move(backgroundReloadManager_)]() mutable {
    // Released here, on main, rather than wherever the queue happens to drop the task.
    if (visibility) visibility->cancel();
    if (video) video->stop();
    if (carousel) carousel->stop();
    if (view) view->removeFromSuperview();
    reload.reset();
    visibility.reset();
    video.reset();
    carousel.reset();
    webView.reset();
    view.reset();
  };
  if (onMainThread()) {
    teardown();
  } else {
    Orvex::shared().platform().dispatcher->mainQueue()->post(std::move(teardown));
  }
}

std::string OrvexBanner::creativeId() const {
  return ad_rules::creativeIdFromTxId(txId_);
}

Size OrvexBanner::creativeSize() const {
  if (!ad_ || !ad_->creativeSize) return Size{};
  return Size{ad_->creativeSize->w, ad_->creativeSize->h};
}

bool OrvexBanner::isBackfilled() const {
  return !txId_.empty() && ad_rules::isBackfilledTxId(txId_);
}

void OrvexBanner::load() {
  if (unitId_.empty()) {
    notify(OrvexMetricCode::invalid, OrvexErrorCode::invalidUnit);
    return;
  }
  stopTrackers();
  txId_.clear();
  cpId_.clear();
  destinationURL_.reset();
  if (auto loader = OrvexInternal::Loaders::banner()) {
    loader(shared_from_this(), view_ ? outermostViewController(*view_) : nullptr,
           adCompletionHandler());
  } else if (!Orvex::shared().isTargetDevice()) {
    notify(OrvexMetricCode::invalid, OrvexErrorCode::notTargetCountry);
    return;
  } else {
    request();
  }
  ad_rules::refreshRemoteConfigIfStale();
}

void OrvexBanner::request() {
  if (format_ == AdUnitFormat::banner && ad_rules::isInactiveUnit(unitId_)) {
    notify(OrvexMetricCode::invalid, OrvexErrorCode::adInactive);
    return;
  }
  Orvex::shared().api().requestAd(unitId_, contextId_, adCompletionHandler());
}

OrvexInternal::AdCompletion OrvexBanner::adCompletionHandler() {
  if (!adCompletionHandler_) {
    // Delivered on the request queue (or a module's thread): the answer hops to the main queue
    // before it touches the banner, which the host reads there.
    std::weak_ptr<OrvexBanner> weak = weak_from_this();
    adCompletionHandler_ = [weak](std::optional<AdRes> ad, std::optional<ServerError> error) {
      ad_rules::onMainIfAlive<OrvexBanner>(
          weak, [ad = std::move(ad), error = std::move(error)](OrvexBanner& banner) {
            banner.completeLoad(ad, error);
          });
    };
  }
  return adCompletionHandler_;
}

void OrvexBanner::completeLoad(std::optional<AdRes> ad, std::optional<ServerError> error) {
  if (error) {
    const OrvexErrorCode code = errorCode(*error);
    logger_.log("request ad failed. " + OrvexErrorCodeToString(code));
    notify(OrvexMetricCode::invalid, code);
    return;
  }
  if (!ad || ad->id.empty() || !ad->creative || ad->creative->empty()) {
    notify(OrvexMetricCode::invalid, OrvexErrorCode::adNoFill);
    return;
  }
  ad_ = std::move(ad);
  txId_ = ad_->id;
  cpId_ = ad_rules::campaignIdFromCpId(ad_->cpId);
  destinationURL_ = ad_->destinationURL;
  display(*ad_->creative);
  notify(OrvexMetricCode::valid, std::nullopt);
}

void OrvexBanner::display(const std::string& creative) {
  if (creative.empty()) return;
  if (!onMainThread()) {
    // The backfill module may display from its own thread; the banner's state lives on main.
    ad_rules::onMainIfAlive<OrvexBanner>(
        weak_from_this(), [creative](OrvexBanner& banner) { banner.display(creative); });
    return;
  }
  std::string document = AdPlayerScriptManager::process(composeCreativeDocument(creative));
  isVideoAd_ = HTMLContentHelper::containsVideoTag(document);
  isCarousel_ = HTMLContentHelper::containsEmblaCarousel(document);
  creative_ = document;
  ad_rules::onMainIfAlive<OrvexBanner>(weak_from_this(),
                                       [document = std::move(document)](OrvexBanner& banner) {
                                         if (banner.backgroundReloadManager_)
                                           banner.backgroundReloadManager_->loadContent(document);
                                       });
}

bool OrvexBanner::hasImpression() const {
  auto it = impressionIds_.find(txId_);
  return it != impressionIds_.end() && it->second;
}

void OrvexBanner::didFinish(WebView& webView) {
  if (isCarousel_) {
    carouselVisibilityTracker_->start();
  } else {
    webView.evaluateJavaScript(kUnblockTracking);
  }
  if (unitId_.empty() || hasImpression()) {
    visibilityTracker_->cancel();
    return;
  }
  // The backfill module counts its own impressions.
  if (!ad_rules::isBackfilledTxId(txId_)) visibilityTracker_->start();
  if (isVideoAd_) videoVisibilityTracker_->start();
}

void OrvexBanner::didBecomeVisible(VisibilityTracker& tracker) {
  if (unitId_.empty() || hasImpression()) return;
  impressionIds_[txId_] = true;
  tracker.cancel();
  Orvex::shared().api().reportMetric(OrvexMetricCode::adImpr, txId_, unitId_);
  notify(OrvexMetricCode::adImpr, std::nullopt);
}

void OrvexBanner::didBecomeVisible(VideoVisibilityTracker&) {
  setVideoPlaying(true);
}
void OrvexBanner::didBecomeInvisible(VideoVisibilityTracker&) {
  setVideoPlaying(false);
}
void OrvexBanner::didBecomeVisible(CarouselVisibilityTracker&) {
  setCarouselRolling(true);
}
void OrvexBanner::didBecomeInvisible(CarouselVisibilityTracker&) {
  setCarouselRolling(false);
}

void OrvexBanner::setVideoPlaying(bool visible) {
  if (webView_)
    webView_->evaluateJavaScript(AdPlayerScriptManager::visibilityCallbackScript(visible));
}

void OrvexBanner::setCarouselRolling(bool visible) {
  if (!webView_) return;
  webView_->evaluateJavaScript(visible ? kUnblockTracking : kBlockTracking);
  webView_->evaluateJavaScript(carouselAutoplayScript(visible));
}

void OrvexBanner::decidePolicy(WebView&, const NavigationAction& action,
                               std::function<void(NavigationPolicy)> decide) {
  const auto verdict = ad_navigation::decide(action);
  if (verdict == ad_navigation::Verdict::click) handleClick(*action.url);
  decide(verdict == ad_navigation::Verdict::allow ? NavigationPolicy::allow
                                                  : NavigationPolicy::cancel);
}

void OrvexBanner::requestsNewWindow(WebView&, const NavigationAction& action) {
  if (ad_navigation::isNewWindowClick(action)) handleClick(*action.url);
}

void OrvexBanner::handleClick(const std::string& url) {
  destinationURL_ = percentDecode(url).value_or(url);
  if (!useCustomClick_) {
    const bool inApp = ad_ && ad_->browserTarget == BrowserTarget::INTERNAL;
    ad_rules::onMainIfAlive<OrvexBanner>(
        weak_from_this(), [url, inApp](OrvexBanner& banner) { banner.open(url, inApp); });
  }
  Orvex::shared().api().reportMetric(OrvexMetricCode::adClick, txId_, unitId_);
  notify(OrvexMetricCode::adClick, std::nullopt);
}

void OrvexBanner::open(const std::optional<std::string>& url, bool useInAppBrowser) {
  const std::string text = url ? *url : destinationURL_.value_or("");
  auto parsed = Url::parse(text);
  if (!parsed) {
    logger_.log("failed to open: " + url.value_or(""));
    return;
  }
  ad_rules::onMainIfAlive<OrvexBanner>(
      weak_from_this(), [parsed = *parsed, useInAppBrowser](OrvexBanner& banner) {
        if (!banner.view_) return;
        auto presenter = outermostViewController(*banner.view_);
        if (!presenter) return;
        BrowserTarget target = useInAppBrowser ? BrowserTarget::INTERNAL : BrowserTarget::EXTERNAL;
        if (banner.ad_ && banner.ad_->browserTarget) target = *banner.ad_->browserTarget;
        openLink(presenter, parsed, target);
      });
}

void OrvexBanner::stopTrackers() {
  visibilityTracker_->cancel();
  videoVisibilityTracker_->stop();
  carouselVisibilityTracker_->stop();
  isVideoAd_ = false;
  isCarousel_ = false;
}

void OrvexBanner::notify(OrvexMetricCode code, std::optional<OrvexErrorCode> error) {
  // Callbacks are copied before the call: a host may replace them from inside one.
  ad_rules::onMainIfAlive<OrvexBanner>(weak_from_this(), [code, error](OrvexBanner& banner) {
    auto delegate = banner.delegate();
    switch (code) {
      case OrvexMetricCode::valid: {
        if (delegate) delegate->onAdReceived(banner);
        if (auto callback = banner.onAdReceived) callback(banner);
        break;
      }
      case OrvexMetricCode::invalid: {
        const OrvexErrorCode e = error.value_or(OrvexErrorCode::adNoFill);
        banner.creative_.reset();
        if (delegate) delegate->onAdFailedToReceive(banner, e);
        if (auto callback = banner.onAdFailedToReceive) callback(banner, e);
        break;
      }
      case OrvexMetricCode::adImpr: {
        if (delegate) delegate->onAdImpression(banner);
        if (auto callback = banner.onAdImpression) callback(banner);
        break;
      }
      case OrvexMetricCode::adClick: {
        if (delegate) delegate->onAdClicked(banner);
        if (auto callback = banner.onAdClicked) callback(banner);
        break;
      }
      default:
        break;
    }
  });
}

}  // namespace orvex
