#pragma once
// The rewarded ad's full-screen screen: the creative's page, transparent, over the native video it
// names. Made off screen as soon as the creative arrives; ready once the page has finished and
// named a playable video (its first <video>'s first <source>), or failed after 5 s. The page
// draws the overlay and posts on the "orvex" handler: mute, close, open a link, and reward - each
// reward message reaches the host's handler as it comes. The screen pushes the remaining seconds
// into the page once a second while the video plays.
//
// Ownership: create() returns a handle that owns the port's controller, which owns the screen; a
// presenter holding the controller keeps the screen up after its ad is gone. Main thread only.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "orvex/core/simple_logger.h"
#include "orvex/formats/fullscreen/fullscreen_ad.h"
#include "orvex/formats/fullscreen/orvex_rewarded_ad_fsm.h"
#include "orvex/formats/fullscreen/orvex_video_player_view.h"
#include "orvex/platform/dispatch.h"
#include "orvex/platform/web_view.h"

namespace orvex {

class ORVEX_API OrvexRewardedAdViewController
    : public std::enable_shared_from_this<OrvexRewardedAdViewController>,
      public WebViewNavigationDelegate,
      public ScriptMessageHandler,
      public AppearanceObserver,
      public OrvexRewardedAdFSMDelegate,
      public OrvexVideoPlayerViewDelegate {
 public:
  using RewardHandler = std::function<void(std::int64_t type, std::int64_t amount)>;
  static constexpr double kLoadLimitSeconds = 5.0;
  static constexpr const char* kMessageHandlerName = "orvex";
  static constexpr const char* kProbeCall = "videoSrc()";
  // Added at document end, main frame only: the first <video>'s first <source>, or null.
  static const char* const kProbeScript;

  // None on a port without a screen.
  static std::shared_ptr<OrvexRewardedAdViewController> create(std::string txId,
                                                               const std::string& displayData,
                                                               bool isPortrait,
                                                               BrowserTarget browserTarget,
                                                               ScreenEventHandler notify);
  OrvexRewardedAdViewController(const OrvexRewardedAdViewController&) = delete;
  OrvexRewardedAdViewController& operator=(const OrvexRewardedAdViewController&) = delete;
  ~OrvexRewardedAdViewController() override;

  // Set by the ad's show; called once for every reward message the page posts.
  RewardHandler userDidEarnRewardHandler;
  void close();
  // The application became active again: a finished video shows its last frame.
  void applicationDidBecomeActive();

  std::shared_ptr<ViewController> viewController() const { return controller_.lock(); }
  const std::shared_ptr<WebView>& webView() const { return webView_; }
  const std::shared_ptr<OrvexVideoPlayerView>& videoPlayerView() const { return videoPlayerView_; }
  const std::shared_ptr<OrvexRewardedAdFSM>& fsm() const { return fsm_; }
  const std::optional<std::string>& videoURL() const { return videoURL_; }
  bool isClicked() const { return isClicked_; }

  // ---- the page, the presentation, the player and the machine ----
  void didFinish(WebView& webView) override;
  void didReceive(WebView& webView, const ScriptMessage& message) override;
  void viewWillAppear(bool animated) override;
  void viewDidAppear(bool animated) override;
  void viewWillDisappear(bool animated) override;
  void viewDidDisappear(bool animated) override;
  void playVideo() override;
  void pauseVideo() override;
  void updateRemainingTime(std::int64_t seconds) override;
  std::shared_ptr<OrvexRewardedAdFSM> videoStateMachine() override { return fsm_; }

 private:
  OrvexRewardedAdViewController(std::string txId, BrowserTarget browserTarget,
                                ScreenEventHandler notify);
  void build(const std::string& displayData, bool isPortrait);
  void probed(std::optional<Value> result);
  void loadTimedOut();
  void report(OrvexMetricCode code) const { notify_(code, txId_); }

  SimpleLogger logger_{"OrvexRewardedAdViewController"};
  const ScreenEventHandler notify_;
  const std::string txId_;
  const BrowserTarget browserTarget_;
  bool isClicked_ = false;
  bool didFinishLoading_ = false;
  std::unique_ptr<Timer> timer_;
  std::weak_ptr<ViewController> controller_;
  std::shared_ptr<WebView> webView_;
  std::shared_ptr<OrvexVideoPlayerView> videoPlayerView_;
  std::optional<std::string> videoURL_;
  std::shared_ptr<OrvexRewardedAdFSM> fsm_;
  Subscription activeObserver_;
};

}  // namespace orvex
