#pragma once
// The quest site's full-screen page screen: the landing pages of quest banners, and the pages that
// Orvex::openQuest and deep links open. Its pages talk to the application through a small script
// bridge (handler "bridge", with reply: the application's version, haptic feedback) and may close
// the screen (handler "orvex"). The navigation rule applies to the page itself and to new-window
// requests: links on the quest site's domains (OrvexDeployment::questDomains, and their
// subdomains) stay in the screen; everything else, and every scheme but http(s), goes to the
// system when the user asked for it (a tap, or the screen's own URL, which the host asked for)
// and nowhere when the page did by itself: the page stays, and no handler is launched. A page's
// iframes load in their frame from any web host. A page that has not finished within 5 s gets an
// alert in the device's language whose button closes the screen.
//
// Ownership: the port's controller owns the screen (ViewController::keepAlive) and the screen holds
// it weakly; the handle create() returns owns that controller until a presenter takes it. Every
// callback reaches the screen weakly. Main thread only.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "orvex/platform/activity_indicator.h"
#include "orvex/platform/dispatch.h"
#include "orvex/platform/haptics.h"
#include "orvex/platform/web_view.h"

namespace orvex {

class ORVEX_API OrvexQuestWebViewController
    : public std::enable_shared_from_this<OrvexQuestWebViewController>,
      public WebViewNavigationDelegate,
      public ScriptMessageHandler,
      public ScriptMessageHandlerWithReply,
      public AppearanceObserver {
 public:
  static constexpr double kLoadWatchdogSeconds = 5.0;
  static constexpr double kRequestTimeoutSeconds = 60.0;
  static constexpr const char* kBridgeHandlerName = "bridge";
  static constexpr const char* kCloseHandlerName = "orvex";
  // Injected into every page at document start: window.bridge.callHandler(name, sig, payload)
  // posts {sig, payload} to the bridge handler and resolves with its reply.
  static const char* const kBridgeScript;

  // A screen for `url` (nothing loads before loadViewIfNeeded); none on a port without a screen.
  static std::shared_ptr<OrvexQuestWebViewController> create(std::optional<std::string> url);
  // A new screen for `url`, loaded and presented full screen and animated over `presenter`;
  // nothing without one.
  static void present(const std::shared_ptr<ViewController>& presenter, const std::string& url);

  OrvexQuestWebViewController(const OrvexQuestWebViewController&) = delete;
  OrvexQuestWebViewController& operator=(const OrvexQuestWebViewController&) = delete;
  ~OrvexQuestWebViewController() override;

  // Builds the page (web view, bridge, spinner), starts loading `url` and the watchdog. Once.
  void loadViewIfNeeded();

  std::shared_ptr<ViewController> viewController() const { return controller_.lock(); }
  const std::shared_ptr<WebView>& webView() const { return webView_; }
  const std::optional<std::string>& url() const { return url_; }
  bool failedToLoad() const { return failedToLoad_; }

  // The host is one of `domains` or a subdomain of one (case-insensitive).
  static bool isQuestHost(std::string_view host, const std::vector<std::string>& domains);
  // "light" … "rigid", "selection", "vibrate"; any other text is a medium impact.
  static void playHaptic(Haptics& haptics, std::string_view type);

  // ---- the page ----
  void decidePolicy(WebView& webView, const NavigationAction& action,
                    std::function<void(NavigationPolicy)> decide) override;
  void didFinish(WebView& webView) override;
  void didFail(WebView& webView, const WebError& error) override;
  void requestsNewWindow(WebView& webView, const NavigationAction& action) override;
  void didReceive(WebView& webView, const ScriptMessage& message) override;
  void didReceive(WebView& webView, const ScriptMessage& message, Reply reply) override;
  void viewDidAppear(bool animated) override;

 private:
  explicit OrvexQuestWebViewController(std::optional<std::string> url);
  NavigationPolicy route(const NavigationAction& action);
  void handToSystem(const std::string& url);
  void layout();
  void removeSpinner();
  void loadFailed();
  void showFailureAlert();
  void close();

  const std::optional<std::string> url_;
  std::weak_ptr<ViewController> controller_;
  std::shared_ptr<ActivityIndicatorView> activityIndicatorView_;
  std::unique_ptr<Timer> timer_;
  bool failedToLoad_ = false;
  bool viewLoaded_ = false;
  // A page may ask to close, or fail to load, while the screen is still coming up; the platform
  // ignores a dismissal or a presentation then, so both wait for the screen to be on.
  bool appeared_ = false;
  bool closeRequested_ = false;
  bool alertPending_ = false;
  std::shared_ptr<WebView> webView_;
  std::vector<std::string> questDomains_;
  // The next page decision is the screen's own URL: the user's (or host's) intent.
  bool awaitingOwnLoad_ = false;
};

}  // namespace orvex
