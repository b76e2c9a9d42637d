#include "orvex/formats/popup/orvex_popup_web_view_controller.h"

#include <utility>

#include "orvex/core/orvex.h"
#include "orvex/server/orvex_api.h"
#include "orvex/web/ad_navigation.h"
#include "orvex/web/ad_player_script_manager.h"
#include "orvex/web/background_reload_manager.h"
#include "orvex/web/html_content.h"
#include "orvex/web/page_scripts.h"

namespace orvex {

std::shared_ptr<OrvexPopupWebViewController> OrvexPopupWebViewController::create(std::string unitId,
                                                                                 AdRes ad,
                                                                                 Notify notify) {
  std::shared_ptr<OrvexPopupWebViewController> controller(
      new OrvexPopupWebViewController(std::move(unitId), std::move(ad), std::move(notify)));
  controller->load();
  return controller;
}

OrvexPopupWebViewController::OrvexPopupWebViewController(std::string unitId, AdRes ad,
                                                         Notify notify)
    : unitId_(std::move(unitId)), ad_(std::move(ad)), notify_(std::move(notify)) {}

OrvexPopupWebViewController::~OrvexPopupWebViewController() {
  if (videoVisibilityTracker_) videoVisibilityTracker_->stop();
}

void OrvexPopupWebViewController::load() {
  const auto& platform = Orvex::shared().platform();
  std::shared_ptr<OrvexPopupWebViewController> self = shared_from_this();
  if (platform.ui) {
    WebViewConfiguration configuration;
    configuration.allowsInlineMediaPlayback = true;
    configuration.mediaPlaybackRequiresUserAction = false;
    configuration.group = WebContentGroup::ads;
    webView_ = PassthroughWebView::create(*platform.ui, configuration);
  }
  const std::shared_ptr<WebView> web = webView_ ? webView_->webView() : nullptr;
  visibilityTracker_ = VisibilityTracker::create();
  visibilityTracker_->setView(web);
  visibilityTracker_->setDelegate(std::weak_ptr<VisibilityTrackerDelegate>(self));
  videoVisibilityTracker_ = VideoVisibilityTracker::create();
  videoVisibilityTracker_->setView(web);
  videoVisibilityTracker_->setDelegate(std::weak_ptr<VideoVisibilityTrackerDelegate>(self));
  if (web) {
    web->setFrame(Rect(0, 0, 0, 0));
    web->addUserScript(UserScript{page_scripts::loadCompleteCheck(),
                                  UserScriptInjectionTime::atDocumentEnd, true});
    web->setOpaque(false);
    web->setBackgroundColor(0);
    web->setBounces(false);
    web->setShowsScrollIndicators(false);
    web->setScrollEnabled(false);
    web->setNavigationDelegate(std::weak_ptr<WebViewNavigationDelegate>(self));
  }

  std::string document =
      AdPlayerScriptManager::process(composeCreativeDocument(ad_.creative.value_or("")));
  isVideoAd_ = HTMLContentHelper::containsVideoTag(document);
  backgroundReloadManager_ = BackgroundReloadManager::create(web, kReloadThresholdSeconds);
  backgroundReloadManager_->loadContent(std::move(document));

  std::weak_ptr<OrvexPopupWebViewController> weak = self;
  timer_ =
      platform.dispatcher->scheduleTimer(secondsToDuration(kLoadDeadlineSeconds), false, [weak] {
        if (auto c = weak.lock()) c->loadFailed();
      });
}

void OrvexPopupWebViewController::didFinish(WebView& webView) {
  std::weak_ptr<OrvexPopupWebViewController> weak = weak_from_this();
  webView.evaluateJavaScript(
      kStyleFixScript, [weak](std::optional<Value>, std::optional<WebError> error) {
        auto self = weak.lock();
        if (self && error) {
          self->logger_.log("Error applying style fix: " + error->description);
        }
      });
  if (didFinishLoading_) return;
  pollTimer_.reset();
  poll(++pollGeneration_, 0);
}

void OrvexPopupWebViewController::poll(std::size_t generation, std::size_t attempt) {
  if (didFinishLoading_ || generation != pollGeneration_ || !webView_) return;
  std::weak_ptr<OrvexPopupWebViewController> weak = weak_from_this();
  webView_->webView()->evaluateJavaScript(
      kLoadCompleteScript,
      [weak, generation, attempt](std::optional<Value> result, std::optional<WebError> error) {
        if (auto self = weak.lock()) self->polled(generation, attempt, result, error);
      });
}

void OrvexPopupWebViewController::polled(std::size_t generation, std::size_t attempt,
                                         const std::optional<Value>& result,
                                         const std::optional<WebError>& error) {
  if (didFinishLoading_ || generation != pollGeneration_) return;
  if (error) {
    logger_.log("Error evaluating JavaScript: " + error->description);
    return;
  }
  const bool* complete = result ? result->asBool() : nullptr;
  // An answer that is not a yes or no ends the polls; the deadline still decides.
  if (!complete) return;
  if (*complete) return loaded();
  if (attempt >= kLoadPollDelays.size()) return loadFailed();
  std::weak_ptr<OrvexPopupWebViewController> weak = weak_from_this();
  pollTimer_ = Orvex::shared().platform().dispatcher->scheduleTimer(
      secondsToDuration(kLoadPollDelays[attempt]), false, [weak, generation, attempt] {
        if (auto self = weak.lock()) self->poll(generation, attempt + 1);
      });
}

void OrvexPopupWebViewController::loaded() {
  if (std::exchange(didFinishLoading_, true)) return;
  timer_.reset();
  pollTimer_.reset();
  if (auto notify = notify_) notify(OrvexMetricCode::valid, ad_);
  visibilityTracker_->start();
  if (isVideoAd_) videoVisibilityTracker_->start();
}

void OrvexPopupWebViewController::loadFailed() {
  if (didFinishLoading_) return;
  timer_.reset();
  pollTimer_.reset();
  didFinishLoading_ = true;
  if (webView_) webView_->webView()->stopLoading();
  if (auto notify = notify_) notify(OrvexMetricCode::invalid, ad_);
}

void OrvexPopupWebViewController::didBecomeVisible(VisibilityTracker& tracker) {
  if (unitId_.empty() || std::exchange(impressed_, true)) return;
  tracker.cancel();
  Orvex::shared().api().reportMetric(OrvexMetricCode::adImpr, ad_.id, unitId_);
  if (auto notify = notify_) notify(OrvexMetricCode::adImpr, ad_);
}

void OrvexPopupWebViewController::didBecomeVisible(VideoVisibilityTracker&) {
  if (webView_) webView_->webView()->evaluateJavaScript(kVideoVisibleScript);
}

void OrvexPopupWebViewController::didBecomeInvisible(VideoVisibilityTracker&) {
  if (webView_) {
    webView_->webView()->evaluateJavaScript(AdPlayerScriptManager::visibilityCallbackScript(false));
  }
}

void OrvexPopupWebViewController::click() {
  if (auto handler = onAdClick) handler();
}

void OrvexPopupWebViewController::decidePolicy(WebView&, const NavigationAction& action,
                                               std::function<void(NavigationPolicy)> decide) {
  // Only a user's link is a click (the landing page is the creative's, not the link's); a page
  // never leaves the popup or opens a window by itself.
  const auto verdict = ad_navigation::decide(action);
  decide(verdict == ad_navigation::Verdict::allow ? NavigationPolicy::allow
                                                  : NavigationPolicy::cancel);
  if (verdict == ad_navigation::Verdict::click) click();
}

void OrvexPopupWebViewController::requestsNewWindow(WebView&, const NavigationAction& action) {
  // A page swiped aside lets touches through to the carousel: a tap that ends a swipe is no click.
  if (ad_navigation::isNewWindowClick(action) && webView_ && !webView_->shouldIgnoreTouches()) {
    click();
  }
}

}  // namespace orvex
