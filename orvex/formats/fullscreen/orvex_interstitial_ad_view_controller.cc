#include "orvex/formats/fullscreen/orvex_interstitial_ad_view_controller.h"

#include <utility>

#include "orvex/core/orvex.h"
#include "orvex/formats/ad_rules.h"
#include "orvex/formats/fullscreen/fullscreen_screen.h"
#include "orvex/web/link_opener.h"
#include "orvex/web/user_content_control_agent.h"

namespace orvex {
namespace {

constexpr std::uint32_t kWhite = 0xFFFFFFFF;

}  // namespace

std::shared_ptr<OrvexInterstitialAdViewController> OrvexInterstitialAdViewController::create(
    std::string txId, const std::string& displayData, bool isPortrait, BrowserTarget browserTarget,
    ScreenEventHandler notify) {
  const auto& ui = Orvex::shared().platform().ui;
  auto controller = ui ? ui->makeViewController(ViewControllerKind::plain) : nullptr;
  if (!controller) return nullptr;
  std::shared_ptr<OrvexInterstitialAdViewController> screen(
      new OrvexInterstitialAdViewController(std::move(txId), browserTarget, std::move(notify)));
  screen->controller_ = controller;
  auto handle = fullscreen::adopt(controller, screen);
  screen->build(displayData, isPortrait);
  return handle;
}

OrvexInterstitialAdViewController::OrvexInterstitialAdViewController(std::string txId,
                                                                     BrowserTarget browserTarget,
                                                                     ScreenEventHandler notify)
    : notify_(std::move(notify)), txId_(std::move(txId)), browserTaret_(browserTarget) {}

OrvexInterstitialAdViewController::~OrvexInterstitialAdViewController() = default;

void OrvexInterstitialAdViewController::build(const std::string& displayData, bool isPortrait) {
  auto controller = controller_.lock();
  const auto& ui = Orvex::shared().platform().ui;
  WebViewConfiguration configuration;
  configuration.allowsInlineMediaPlayback = true;
  webView_ = ui->makeWebView(configuration);
  controller->view()->setBackgroundColor(kWhite);

  std::weak_ptr<OrvexInterstitialAdViewController> weak = weak_from_this();
  timer_ = Orvex::shared().platform().dispatcher->scheduleTimer(
      secondsToDuration(kLoadLimitSeconds), false, [weak] {
        if (auto self = weak.lock()) self->loadTimedOut();
      });
  if (webView_) {
    webView_->setNavigationDelegate(std::weak_ptr<WebViewNavigationDelegate>(weak_from_this()));
    webView_->setScrollEnabled(false);
    webView_->setBackgroundColor(0);
    // The web view holds its handlers strongly: an agent, so that the page never keeps the screen.
    auto agent = std::make_shared<UserContentControlAgent>();
    agent->delegate = std::weak_ptr<ScriptMessageHandler>(weak_from_this());
    webView_->addScriptMessageHandler(agent, kMessageHandlerName);
    webView_->loadHTMLString(displayData);
    fullscreen::fill(*controller, webView_);
  }
  controller->setPresentationStyle(PresentationStyle::fullScreen);
  controller->setSupportedInterfaceOrientations(fullscreen::orientationsFor(isPortrait));
  controller->setShouldAutorotate(false);
  controller->setAppearanceObserver(std::weak_ptr<AppearanceObserver>(weak_from_this()));
}

void OrvexInterstitialAdViewController::close() {
  if (auto controller = controller_.lock()) controller->dismiss(true, {});
}

void OrvexInterstitialAdViewController::didFinish(WebView&) {
  if (std::exchange(didFinishLoading_, true)) return;
  report(OrvexMetricCode::valid);
  timer_.reset();
}

void OrvexInterstitialAdViewController::loadTimedOut() {
  timer_.reset();
  if (didFinishLoading_) return;
  if (webView_) webView_->stopLoading();
  report(OrvexMetricCode::invalid);
  close();
}

void OrvexInterstitialAdViewController::didReceive(WebView&, const ScriptMessage& message) {
  const auto page = fullscreen::pageMessage(message);
  if (!page) return;
  if (page->action == "close") return close();
  if (page->action != "open") return;
  auto parsed = fullscreen::pageLink(*page);
  if (!parsed) return;
  ad_rules::onMainIfAlive<OrvexInterstitialAdViewController>(
      weak_from_this(), [url = *parsed](OrvexInterstitialAdViewController& self) {
        openLink(self.viewController(), url, self.browserTaret_);
        if (!std::exchange(self.isClicked_, true)) self.report(OrvexMetricCode::adClick);
      });
}

void OrvexInterstitialAdViewController::viewWillAppear(bool) {
  report(OrvexMetricCode::willOpen);
}
void OrvexInterstitialAdViewController::viewDidAppear(bool) {
  report(OrvexMetricCode::open);
}
void OrvexInterstitialAdViewController::viewWillDisappear(bool) {
  report(OrvexMetricCode::willClose);
}
void OrvexInterstitialAdViewController::viewDidDisappear(bool) {
  report(OrvexMetricCode::close);
}

}  // namespace orvex
