#pragma once
// Renders a native ad's HTML media in a web view that the native ad view later places into the
// host's media view. The web view follows the width of the view it fills and takes the page's own
// aspect ratio (measured after each load and at each new width), plays video only while it can be
// seen, reports whether the page finished within 5 s, and turns link taps into clicks that open
// the landing page (always: there is no custom click here).
//
// It reports to its owner through one callback taking a metric code: valid (the page finished,
// once), invalid (5 s passed first; loading is stopped) and adClick (every tap). Main thread
// only; the owner may let go on any thread, the views are released on the main thread.

#include <functional>
#include <memory>
#include <string>

#include "orvex/core/codes.h"
#include "orvex/measurement/video_visibility_tracker.h"
#include "orvex/platform/dispatch.h"
#include "orvex/platform/web_view.h"
#include "orvex/server/ad_response.h"

namespace orvex {

class BackgroundReloadManager;

class ORVEX_API OrvexNativeAdWebViewController
    : public std::enable_shared_from_this<OrvexNativeAdWebViewController>,
      public WebViewNavigationDelegate,
      public VideoVisibilityTrackerDelegate {
 public:
  using Notify = std::function<void(OrvexMetricCode)>;
  static constexpr double kLoadTimeoutSeconds = 5.0;
  static constexpr double kReloadThresholdSeconds = 30.0;
  // The root's scroll height never reads less than the viewport's, so a page shorter than the
  // (at first square) web view would read as tall as the view: its ratio would stick at whatever
  // height WebKit happened to have when asked. A page that fits is measured by its content's
  // bottom (body padding, border and margin included) instead.
  static constexpr const char* kMeasureScript =
      "(() => { const body = document.body; "
      "let height = document.documentElement.scrollHeight; "
      "if (body && height <= window.innerHeight) { "
      "const range = document.createRange(); range.selectNodeContents(body); "
      "const style = getComputedStyle(body); "
      "height = range.getBoundingClientRect().bottom + window.scrollY + "
      "parseFloat(style.paddingBottom) + parseFloat(style.borderBottomWidth) + "
      "parseFloat(style.marginBottom); } "
      "return {width: document.documentElement.scrollWidth, height: Math.ceil(height)}; })()";

  // Starts loading `displayData` at once, in a square web view as wide as the screen.
  static std::shared_ptr<OrvexNativeAdWebViewController> create(std::string displayData,
                                                                BrowserTarget browserTarget,
                                                                Notify notify);
  ~OrvexNativeAdWebViewController() override;
  OrvexNativeAdWebViewController(const OrvexNativeAdWebViewController&) = delete;
  OrvexNativeAdWebViewController& operator=(const OrvexNativeAdWebViewController&) = delete;

  // The width the web view now has in the host's media view; measures the page again when it
  // changed. Afterwards the web view follows the width of the view it fills by itself.
  void updateWidth(double width);

  // None on a port without web views.
  const std::shared_ptr<WebView>& webView() const { return webView_; }
  // Page height divided by page width; 1 until a page reported a usable size.
  double webViewSizeRatio() const { return webViewSizeRatio_; }
  bool isVideoAd() const { return isVideoAd_; }
  bool didFinishLoading() const { return didFinishLoading_; }
  BrowserTarget browserTarget() const { return browserTarget_; }

 private:
  OrvexNativeAdWebViewController(BrowserTarget browserTarget, Notify notify);
  void load(const std::string& displayData);
  void handleLoadTimeout();
  void measure();
  void measured(const std::optional<Value>& result);
  void layout();
  void click(const std::string& url);
  void report(OrvexMetricCode code);

  void decidePolicy(WebView& webView, const NavigationAction& action,
                    std::function<void(NavigationPolicy)> decide) override;
  void didFinish(WebView& webView) override;
  void requestsNewWindow(WebView& webView, const NavigationAction& action) override;
  void didBecomeVisible(VideoVisibilityTracker& tracker) override;
  void didBecomeInvisible(VideoVisibilityTracker& tracker) override;

  const Notify notify_;
  std::unique_ptr<Timer> loadTimeoutTimer_;
  bool didFinishLoading_ = false;
  const BrowserTarget browserTarget_;
  std::shared_ptr<WebView> webView_;
  double webViewSizeRatio_ = 1.0;
  // The width the page was last measured at; one measurement in flight at a time.
  double measuredWidth_ = -1;
  bool measuring_ = false;
  bool measureAgain_ = false;
  std::shared_ptr<VideoVisibilityTracker> videoVisibilityTracker_;
  std::shared_ptr<BackgroundReloadManager> backgroundReloadManager_;
  bool isVideoAd_ = false;
};

}  // namespace orvex
