#include "orvex/web/native_ad_web_view_controller.h"

#include <utility>

#include "orvex/core/orvex.h"
#include "orvex/core/url.h"
#include "orvex/web/ad_navigation.h"
#include "orvex/web/ad_player_script_manager.h"
#include "orvex/web/background_reload_manager.h"
#include "orvex/web/html_content.h"
#include "orvex/web/link_opener.h"

namespace orvex {
namespace {

const OrvexPlatform& platform() {
  return Orvex::shared().platform();
}

}  // namespace

std::shared_ptr<OrvexNativeAdWebViewController> OrvexNativeAdWebViewController::create(
    std::string displayData, BrowserTarget browserTarget, Notify notify) {
  std::shared_ptr<OrvexNativeAdWebViewController> controller(
      new OrvexNativeAdWebViewController(browserTarget, std::move(notify)));
  controller->load(displayData);
  return controller;
}

OrvexNativeAdWebViewController::OrvexNativeAdWebViewController(BrowserTarget browserTarget,
                                                               Notify notify)
    : notify_(std::move(notify)), browserTarget_(browserTarget) {}

OrvexNativeAdWebViewController::~OrvexNativeAdWebViewController() {
  // The page must not stay in the host's media view with nobody to handle its taps; views belong
  // to the main thread, and the last owner may be elsewhere.
  auto teardown = [webView = std::move(webView_), video = std::move(videoVisibilityTracker_),
                   reload = std::move(backgroundReloadManager_),
                   timer = std::shared_ptr<Timer>(std::move(loadTimeoutTimer_))]() mutable {
    timer.reset();
    if (video) video->stop();
    if (webView) webView->removeFromSuperview();
    reload.reset();
    video.reset();
    webView.reset();
  };
  const auto& dispatcher = platform().dispatcher;
  if (!dispatcher || dispatcher->isMainThread()) {
    teardown();
  } else {
    dispatcher->mainQueue()->post(std::move(teardown));
  }
}

void OrvexNativeAdWebViewController::load(const std::string& displayData) {
  const auto& p = platform();
  std::shared_ptr<OrvexNativeAdWebViewController> self = shared_from_this();
  if (p.ui) {
    const double width = p.ui->screenBounds().size.width;
    WebViewConfiguration configuration;
    configuration.allowsInlineMediaPlayback = true;
    configuration.mediaPlaybackRequiresUserAction = false;
    configuration.group = WebContentGroup::ads;
    webView_ = p.ui->makeWebView(configuration);
    if (webView_) {
      webView_->setFrame(Rect(0, 0, width, width));
      webView_->setNavigationDelegate(std::weak_ptr<WebViewNavigationDelegate>(self));
      // The height follows the width by the page's ratio; the width is the frame's, so that the
      // page follows the media view it fills as the host lays it out (a toolkit allocates late,
      // and a window is resized).
      webView_->setSizeRules(SizeRules{std::nullopt, std::nullopt, Size{1, 1}});
      std::weak_ptr<OrvexNativeAdWebViewController> weak = self;
      webView_->setLayoutHandler([weak] {
        if (auto c = weak.lock()) c->layout();
      });
      webView_->setScrollEnabled(false);
      webView_->setBackgroundColor(0);
      webView_->setOpaque(false);
    }
  }
  videoVisibilityTracker_ = VideoVisibilityTracker::create();
  videoVisibilityTracker_->setView(webView_);
  videoVisibilityTracker_->setDelegate(std::weak_ptr<VideoVisibilityTrackerDelegate>(self));

  std::string document = AdPlayerScriptManager::process(displayData);
  isVideoAd_ = HTMLContentHelper::containsVideoTag(document);
  backgroundReloadManager_ = BackgroundReloadManager::create(webView_, kReloadThresholdSeconds);
  backgroundReloadManager_->loadContent(std::move(document));

  std::weak_ptr<OrvexNativeAdWebViewController> weak = self;
  loadTimeoutTimer_ =
      p.dispatcher->scheduleTimer(secondsToDuration(kLoadTimeoutSeconds), false, [weak] {
        if (auto c = weak.lock()) c->handleLoadTimeout();
      });
}

void OrvexNativeAdWebViewController::report(OrvexMetricCode code) {
  if (auto notify = notify_) notify(code);
}

void OrvexNativeAdWebViewController::handleLoadTimeout() {
  loadTimeoutTimer_.reset();
  if (didFinishLoading_) return;
  // Not marked finished: a page that arrives after all (a background reload) still counts once.
  if (webView_) webView_->stopLoading();
  report(OrvexMetricCode::invalid);
}

void OrvexNativeAdWebViewController::didFinish(WebView&) {
  if (!didFinishLoading_) {
    didFinishLoading_ = true;
    loadTimeoutTimer_.reset();
    report(OrvexMetricCode::valid);
  }
  if (isVideoAd_) videoVisibilityTracker_->start();
  measure();
}

void OrvexNativeAdWebViewController::measure() {
  if (!webView_) return;
  // One measurement at a time: a window being dragged wider asks on every frame; the page is
  // asked again once the answer is in if the width moved meanwhile.
  if (measuring_) {
    measureAgain_ = true;
    return;
  }
  measuring_ = true;
  measuredWidth_ = webView_->frame().size.width;
  std::weak_ptr<OrvexNativeAdWebViewController> weak = weak_from_this();
  webView_->evaluateJavaScript(kMeasureScript,
                               [weak](std::optional<Value> result, std::optional<WebError>) {
                                 if (auto self = weak.lock()) self->measured(result);
                               });
}

void OrvexNativeAdWebViewController::measured(const std::optional<Value>& result) {
  measuring_ = false;
  if (!webView_) return;
  const Value* w = result ? result->find("width") : nullptr;
  const Value* h = result ? result->find("height") : nullptr;
  const auto width = w ? w->number() : std::nullopt;
  const auto height = h ? h->number() : std::nullopt;
  if (width && height && *width > 0 && *height > 0) {
    webViewSizeRatio_ = *height / *width;
    SizeRules rules = webView_->sizeRules();
    rules.height.reset();
    rules.aspectRatio = Size{*width, *height};
    webView_->setSizeRules(rules);
  }
  if (std::exchange(measureAgain_, false) || webView_->frame().size.width != measuredWidth_) {
    measure();
  }
}

void OrvexNativeAdWebViewController::layout() {
  // The page reflows at a new width, and its height with it: measure it at the width it now has.
  if (!webView_ || !didFinishLoading_) return;
  const double width = webView_->frame().size.width;
  if (width > 0 && width != measuredWidth_) measure();
}

void OrvexNativeAdWebViewController::updateWidth(double width) {
  if (!webView_) return;
  const Rect frame = webView_->frame();
  if (frame.size.width == width) return;
  // The ratio sets the height; the layout handler measures the page at the new width.
  webView_->setFrame(Rect(frame.origin.x, frame.origin.y, width, frame.size.height));
}

void OrvexNativeAdWebViewController::click(const std::string& url) {
  std::weak_ptr<OrvexNativeAdWebViewController> weak = weak_from_this();
  platform().dispatcher->mainQueue()->post([weak, url] {
    auto self = weak.lock();
    if (!self || !self->webView_) return;
    auto parsed = Url::parse(url);
    auto presenter = nearestViewController(*self->webView_);
    if (parsed && presenter) openLink(presenter, *parsed, self->browserTarget_);
  });
  report(OrvexMetricCode::adClick);
}

void OrvexNativeAdWebViewController::decidePolicy(WebView&, const NavigationAction& action,
                                                  std::function<void(NavigationPolicy)> decide) {
  const auto verdict = ad_navigation::decide(action);
  if (verdict == ad_navigation::Verdict::click) click(*action.url);
  decide(verdict == ad_navigation::Verdict::allow ? NavigationPolicy::allow
                                                  : NavigationPolicy::cancel);
}

void OrvexNativeAdWebViewController::requestsNewWindow(WebView&, const NavigationAction& action) {
  if (ad_navigation::isNewWindowClick(action)) click(*action.url);
}

void OrvexNativeAdWebViewController::didBecomeVisible(VideoVisibilityTracker&) {
  if (webView_) webView_->evaluateJavaScript(AdPlayerScriptManager::visibilityCallbackScript(true));
}

void OrvexNativeAdWebViewController::didBecomeInvisible(VideoVisibilityTracker&) {
  if (webView_)
    webView_->evaluateJavaScript(AdPlayerScriptManager::visibilityCallbackScript(false));
}

}  // namespace orvex
