#pragma once
// The interstitial's full-screen screen. It is made off screen as soon as the creative arrives and
// loads the page at once, so that the page is ready when the host shows the ad; it tells its ad
// when the page is ready (or not within 5 s), when it is shown and hidden, and the first click.
// The page may post {"action": "close"} and {"action": "open", "url": …} on the "orvex" handler.
//
// Ownership: create() returns a handle that owns the port's controller, which owns the screen; a
// presenter holding the controller keeps the screen up after its ad is gone. Main thread only.

#include <memory>
#include <string>

#include "orvex/core/simple_logger.h"
#include "orvex/formats/fullscreen/fullscreen_ad.h"
#include "orvex/platform/dispatch.h"
#include "orvex/platform/web_view.h"

namespace orvex {

class ORVEX_API OrvexInterstitialAdViewController
    : public std::enable_shared_from_this<OrvexInterstitialAdViewController>,
      public WebViewNavigationDelegate,
      public ScriptMessageHandler,
      public AppearanceObserver {
 public:
  static constexpr double kLoadLimitSeconds = 5.0;
  static constexpr const char* kMessageHandlerName = "orvex";

  // None on a port without a screen.
  static std::shared_ptr<OrvexInterstitialAdViewController> create(std::string txId,
                                                                   const std::string& displayData,
                                                                   bool isPortrait,
                                                                   BrowserTarget browserTarget,
                                                                   ScreenEventHandler notify);
  OrvexInterstitialAdViewController(const OrvexInterstitialAdViewController&) = delete;
  OrvexInterstitialAdViewController& operator=(const OrvexInterstitialAdViewController&) = delete;
  ~OrvexInterstitialAdViewController() override;

  void close();

  std::shared_ptr<ViewController> viewController() const { return controller_.lock(); }
  const std::shared_ptr<WebView>& webView() const { return webView_; }
  bool didFinishLoading() const { return didFinishLoading_; }
  bool isClicked() const { return isClicked_; }

  // ---- the page and the presentation ----
  void didFinish(WebView& webView) override;
  void didReceive(WebView& webView, const ScriptMessage& message) override;
  void viewWillAppear(bool animated) override;
  void viewDidAppear(bool animated) override;
  void viewWillDisappear(bool animated) override;
  void viewDidDisappear(bool animated) override;

 private:
  OrvexInterstitialAdViewController(std::string txId, BrowserTarget browserTarget,
                                    ScreenEventHandler notify);
  void build(const std::string& displayData, bool isPortrait);
  void loadTimedOut();
  void report(OrvexMetricCode code) const { notify_(code, txId_); }

  SimpleLogger logger_{"OrvexInterstitialAdViewController"};
  const ScreenEventHandler notify_;
  const std::string txId_;
  const BrowserTarget browserTaret_;
  bool isClicked_ = false;
  bool didFinishLoading_ = false;
  std::unique_ptr<Timer> timer_;
  std::weak_ptr<ViewController> controller_;
  std::shared_ptr<WebView> webView_;
};

}  // namespace orvex
