#pragma once
// One page of a popup: loads one creative into its own web view, decides when the page has really
// finished (navigation finished, then every eager image decoded, polled after 0.2, 0.5, 1.0 and
// 2.0 s, within 5 s in all), counts its impression once it has been seen, turns a user's link
// taps into clicks and plays its video only while the page can be seen.
//
// Reports to its owner through `notify`: valid or invalid once (the page's outcome), adImpr once.
// Clicks go to `onAdClick`. Main thread only; timers and script answers hold it weakly.

#include <array>
#include <functional>
#include <memory>
#include <string>

#include "orvex/core/codes.h"
#include "orvex/core/simple_logger.h"
#include "orvex/measurement/video_visibility_tracker.h"
#include "orvex/measurement/visibility_tracker.h"
#include "orvex/platform/dispatch.h"
#include "orvex/platform/web_view.h"
#include "orvex/server/ad_response.h"
#include "orvex/web/passthrough_web_view.h"

namespace orvex {

class BackgroundReloadManager;

class OrvexPopupWebViewController
    : public std::enable_shared_from_this<OrvexPopupWebViewController>,
      public WebViewNavigationDelegate,
      public VisibilityTrackerDelegate,
      public VideoVisibilityTrackerDelegate {
 public:
  using Notify = std::function<void(OrvexMetricCode code, const AdRes& ad)>;

  static constexpr double kLoadDeadlineSeconds = 5.0;
  static constexpr double kReloadThresholdSeconds = 30.0;
  // Waits between isLoadComplete() polls after navigation finished; used up means failed.
  static constexpr std::array<double, 4> kLoadPollDelays = {0.2, 0.5, 1.0, 2.0};
  static constexpr const char* kLoadCompleteScript = "isLoadComplete()";
  // Centres the creative: the body fills the page (the root too, or a percentage height would
  // be its content's), the first link fills the body and the first image fills it too,
  // contained, without its own width and height.
  static constexpr const char* kStyleFixScript =
      "(() => { const body = document.body; if (!body) return true; "
      "document.documentElement.style.height = '100%'; "
      "Object.assign(body.style, {width: '100%', height: '100%', display: 'flex', "
      "justifyContent: 'center', alignItems: 'center'}); "
      "const link = document.querySelector('a'); "
      "if (link) Object.assign(link.style, {display: 'block', width: '100%', height: '100%'}); "
      "const image = document.querySelector('img'); "
      "if (image) { image.removeAttribute('width'); image.removeAttribute('height'); "
      "Object.assign(image.style, {width: '100%', height: '100%', objectFit: 'contain', "
      "objectPosition: 'center'}); } return true; })()";
  // Tells the page's player it can be seen; a player that is not ready yet is asked again after
  // 200 ms and once more 300 ms later.
  static constexpr const char* kVideoVisibleScript =
      "(() => { const show = () => { if (typeof window.adPlayerVisibilityCallback !== "
      "'function') return false; window.adPlayerVisibilityCallback(true); return true; }; "
      "if (!show()) setTimeout(() => { if (!show()) setTimeout(show, 300); }, 200); "
      "return true; })()";

  // Starts loading at once. Without a screen (no web view) the page only ever fails by its
  // deadline.
  static std::shared_ptr<OrvexPopupWebViewController> create(std::string unitId, AdRes ad,
                                                             Notify notify);
  ~OrvexPopupWebViewController() override;
  OrvexPopupWebViewController(const OrvexPopupWebViewController&) = delete;
  OrvexPopupWebViewController& operator=(const OrvexPopupWebViewController&) = delete;

  // None on a port without web views.
  const std::shared_ptr<PassthroughWebView>& webView() const { return webView_; }
  const AdRes& ad() const { return ad_; }
  bool isVideoAd() const { return isVideoAd_; }
  // The outcome (loaded or failed) has been decided.
  bool didFinishLoading() const { return didFinishLoading_; }

  // Set by the popup controller: a click on this page.
  std::function<void()> onAdClick;

  // The deadline's action.
  void loadFailed();

 private:
  OrvexPopupWebViewController(std::string unitId, AdRes ad, Notify notify);
  void load();
  void poll(std::size_t generation, std::size_t attempt);
  void polled(std::size_t generation, std::size_t attempt, const std::optional<Value>& result,
              const std::optional<WebError>& error);
  void loaded();
  void click();

  void decidePolicy(WebView& webView, const NavigationAction& action,
                    std::function<void(NavigationPolicy)> decide) override;
  void didFinish(WebView& webView) override;
  void requestsNewWindow(WebView& webView, const NavigationAction& action) override;
  void didBecomeVisible(VisibilityTracker& tracker) override;
  void didBecomeVisible(VideoVisibilityTracker& tracker) override;
  void didBecomeInvisible(VideoVisibilityTracker& tracker) override;

  SimpleLogger logger_{"OrvexPopupWebViewController"};
  const std::string unitId_;
  const AdRes ad_;
  std::shared_ptr<VisibilityTracker> visibilityTracker_;
  const Notify notify_;
  std::unique_ptr<Timer> timer_;
  bool didFinishLoading_ = false;
  std::shared_ptr<PassthroughWebView> webView_;
  std::shared_ptr<VideoVisibilityTracker> videoVisibilityTracker_;
  std::shared_ptr<BackgroundReloadManager> backgroundReloadManager_;
  bool isVideoAd_ = false;
  bool impressed_ = false;
  // Each finished navigation starts its own polls; answers of an older round are dropped.
  std::size_t pollGeneration_ = 0;
  std::unique_ptr<Timer> pollTimer_;
};

}  // namespace orvex
