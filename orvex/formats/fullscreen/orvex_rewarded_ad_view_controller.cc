#include "orvex/formats/fullscreen/orvex_rewarded_ad_view_controller.h"

#include <utility>

#include "orvex/core/orvex.h"
#include "orvex/formats/ad_rules.h"
#include "orvex/formats/fullscreen/fullscreen_screen.h"
#include "orvex/web/link_opener.h"
#include "orvex/web/user_content_control_agent.h"

namespace orvex {
namespace {

constexpr std::uint32_t kBlack = 0x000000FF;

}  // namespace

const char* const OrvexRewardedAdViewController::kProbeScript =
    "function videoSrc() {\n"
    "    const videoElement = document.querySelector('video') // 첫 번째 video 태그를 선택\n"
    "    if (videoElement) {\n"
    "        const sourceElement = videoElement.querySelector('source') // video 태그 내의 첫 번째 "
    "source 태그를 선택\n"
    "        if (sourceElement) {\n"
    "            return sourceElement.src; // source 태그의 src 속성 반환\n"
    "        }\n"
    "    }\n"
    "    return null; // video 또는 source 태그가 없는 경우 null 반환\n"
    "}";

std::shared_ptr<OrvexRewardedAdViewController> OrvexRewardedAdViewController::create(
    std::string txId, const std::string& displayData, bool isPortrait, BrowserTarget browserTarget,
    ScreenEventHandler notify) {
  const auto& ui = Orvex::shared().platform().ui;
  auto controller = ui ? ui->makeViewController(ViewControllerKind::plain) : nullptr;
  if (!controller) return nullptr;
  std::shared_ptr<OrvexRewardedAdViewController> screen(
      new OrvexRewardedAdViewController(std::move(txId), browserTarget, std::move(notify)));
  screen->controller_ = controller;
  auto handle = fullscreen::adopt(controller, screen);
  screen->build(displayData, isPortrait);
  return handle;
}

OrvexRewardedAdViewController::OrvexRewardedAdViewController(std::string txId,
                                                             BrowserTarget browserTarget,
                                                             ScreenEventHandler notify)
    : notify_(std::move(notify)), txId_(std::move(txId)), browserTarget_(browserTarget) {}

OrvexRewardedAdViewController::~OrvexRewardedAdViewController() {
  // A screen that goes while its video plays leaves the session as it found it.
  if (fsm_ && fsm_->state == OrvexRewardedAdState::advertising) {
    fsm_->delegate.reset();
    fsm_->deactivateAudio(true);
  }
}

void OrvexRewardedAdViewController::build(const std::string& displayData, bool isPortrait) {
  auto controller = controller_.lock();
  const auto& ui = Orvex::shared().platform().ui;
  WebViewConfiguration configuration;
  configuration.allowsInlineMediaPlayback = true;
  configuration.mediaPlaybackRequiresUserAction = false;
  configuration.allowsPictureInPicture = false;
  webView_ = ui->makeWebView(configuration);

  videoPlayerView_ = OrvexVideoPlayerView::create();
  fsm_ = OrvexRewardedAdFSM::create();
  videoPlayerView_->delegate = std::weak_ptr<OrvexVideoPlayerViewDelegate>(weak_from_this());
  fsm_->delegate = std::weak_ptr<OrvexRewardedAdFSMDelegate>(weak_from_this());

  controller->view()->setBackgroundColor(kBlack);
  fullscreen::fill(*controller, videoPlayerView_->view());
  std::weak_ptr<OrvexRewardedAdViewController> weak = weak_from_this();
  if (webView_) {
    webView_->setNavigationDelegate(std::weak_ptr<WebViewNavigationDelegate>(weak_from_this()));
    webView_->setScrollEnabled(false);
    webView_->setBackgroundColor(0);
    webView_->setOpaque(false);
    fullscreen::fill(*controller, webView_);
    webView_->addUserScript(UserScript{kProbeScript, UserScriptInjectionTime::atDocumentEnd, true});
    // The web view holds its handlers strongly: an agent, so that the page never keeps the screen.
    auto agent = std::make_shared<UserContentControlAgent>();
    agent->delegate = std::weak_ptr<ScriptMessageHandler>(weak_from_this());
    webView_->addScriptMessageHandler(agent, kMessageHandlerName);
    webView_->loadHTMLString(displayData);
  }
  controller->setPresentationStyle(PresentationStyle::fullScreen);
  controller->setSupportedInterfaceOrientations(fullscreen::orientationsFor(isPortrait));
  controller->setShouldAutorotate(false);
  controller->setPrefersStatusBarHidden(true);
  controller->setAppearanceObserver(std::weak_ptr<AppearanceObserver>(weak_from_this()));
  timer_ = Orvex::shared().platform().dispatcher->scheduleTimer(
      secondsToDuration(kLoadLimitSeconds), false, [weak] {
        if (auto self = weak.lock()) self->loadTimedOut();
      });
  activeObserver_ =
      Orvex::shared().platform().lifecycle->observe(AppNotification::didBecomeActive, [weak] {
        if (auto self = weak.lock()) self->applicationDidBecomeActive();
      });
}

void OrvexRewardedAdViewController::didFinish(WebView& webView) {
  std::weak_ptr<OrvexRewardedAdViewController> weak = weak_from_this();
  webView.evaluateJavaScript(kProbeCall, [weak](std::optional<Value> result, auto) {
    if (auto self = weak.lock()) self->probed(std::move(result));
  });
}

void OrvexRewardedAdViewController::probed(std::optional<Value> result) {
  const std::string* text = result ? result->asString() : nullptr;
  if (!text || !Url::parse(*text)) return;  // no video, no ad: the time limit decides
  videoURL_ = *text;
  if (std::exchange(didFinishLoading_, true)) return;
  videoPlayerView_->videoURL = videoURL_;
  videoPlayerView_->setUpPlayer();
  report(OrvexMetricCode::valid);
  timer_.reset();
}

void OrvexRewardedAdViewController::loadTimedOut() {
  timer_.reset();
  if (std::exchange(didFinishLoading_, true)) return;
  if (webView_) webView_->stopLoading();
  report(OrvexMetricCode::invalid);
}

void OrvexRewardedAdViewController::applicationDidBecomeActive() {
  if (fsm_->state == OrvexRewardedAdState::finished) videoPlayerView_->showLastFrame();
}

void OrvexRewardedAdViewController::updateRemainingTime(std::int64_t seconds) {
  if (fsm_->state == OrvexRewardedAdState::finished || !webView_) return;
  webView_->evaluateJavaScript("updateRemainingTime(" + std::to_string(seconds) + ")");
}

void OrvexRewardedAdViewController::playVideo() {
  if (const auto& player = videoPlayerView_->player()) player->play();
}

void OrvexRewardedAdViewController::pauseVideo() {
  if (const auto& player = videoPlayerView_->player()) player->pause();
}

void OrvexRewardedAdViewController::close() {
  // Closed mid-video: the other applications' audio comes back.
  if (fsm_->state == OrvexRewardedAdState::advertising) fsm_->deactivateAudio(true);
  fsm_->delegate.reset();
  fsm_->removeObservers();
  videoPlayerView_->stop();
  if (auto controller = controller_.lock()) controller->dismiss(true, {});
}

void OrvexRewardedAdViewController::didReceive(WebView&, const ScriptMessage& message) {
  const auto page = fullscreen::pageMessage(message);
  if (!page) return;
  if (page->action == "close") return close();
  if (page->action == "mute") {
    const Value* muted = page->body.find("isMuted");
    const bool* value = muted ? muted->asBool() : nullptr;
    if (value && videoPlayerView_->player()) videoPlayerView_->player()->setMuted(*value);
  } else if (page->action == "reward") {
    const Value* type = page->body.find("type");
    const Value* amount = page->body.find("amount");
    const std::int64_t* t = type ? type->asInt() : nullptr;
    const std::int64_t* a = amount ? amount->asInt() : nullptr;
    if (t && a && userDidEarnRewardHandler) userDidEarnRewardHandler(*t, *a);
  } else if (page->action == "open") {
    auto url = fullscreen::pageLink(*page);
    if (!url) return;
    ad_rules::onMainIfAlive<OrvexRewardedAdViewController>(
        weak_from_this(), [url = *url](OrvexRewardedAdViewController& self) {
          openLink(self.viewController(), url, self.browserTarget_);
          if (!std::exchange(self.isClicked_, true)) self.report(OrvexMetricCode::adClick);
        });
  }
}

void OrvexRewardedAdViewController::viewWillAppear(bool) {
  if (fsm_->state == OrvexRewardedAdState::idle) fsm_->state = OrvexRewardedAdState::advertising;
  fsm_->activateAudio();
  report(OrvexMetricCode::willOpen);
}
void OrvexRewardedAdViewController::viewDidAppear(bool) {
  report(OrvexMetricCode::open);
}
void OrvexRewardedAdViewController::viewWillDisappear(bool) {
  report(OrvexMetricCode::willClose);
}
void OrvexRewardedAdViewController::viewDidDisappear(bool) {
  report(OrvexMetricCode::close);
}

}  // namespace orvex
