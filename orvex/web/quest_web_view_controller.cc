#include "orvex/web/quest_web_view_controller.h"

#include <re2/re2.h>

#include <utility>

#include "orvex/core/device.h"
#include "orvex/core/localized_strings.h"
#include "orvex/core/orvex.h"
#include "orvex/core/url.h"
#include "orvex/platform/alert.h"
#include "orvex/web/link_opener.h"
#include "orvex/web/user_content_control_agent.h"

namespace orvex {
namespace {

constexpr double kSpinnerSide = 20;
constexpr std::uint32_t kWhite = 0xffffffff;

const OrvexPlatform& platform() {
  return Orvex::shared().platform();
}

}  // namespace

const char* const OrvexQuestWebViewController::kBridgeScript =
    "window.bridge = {\n"
    "    callHandler: async function(name, sig, payload) {\n"
    "        return await window.webkit.messageHandlers.bridge.postMessage({ \n"
    "            sig,\n"
    "            payload\n"
    "        });\n"
    "    }\n"
    "};";

std::shared_ptr<OrvexQuestWebViewController> OrvexQuestWebViewController::create(
    std::optional<std::string> url) {
  const auto& ui = platform().ui;
  if (!ui) return nullptr;
  auto controller = ui->makeViewController(ViewControllerKind::plain);
  if (!controller) return nullptr;
  std::shared_ptr<OrvexQuestWebViewController> screen(
      new OrvexQuestWebViewController(std::move(url)));
  screen->controller_ = controller;
  controller->setPresentationStyle(PresentationStyle::fullScreen);
  // The site is designed on white: light whatever the system's style, with dark status-bar text.
  controller->setOverrideInterfaceStyle(InterfaceStyle::light);
  controller->setStatusBarStyle(StatusBarStyle::darkContent);
  controller->setAppearanceObserver(std::weak_ptr<AppearanceObserver>(screen));
  controller->keepAlive(screen);
  // The handle owns the controller, which owns the screen: no cycle, whoever lets go last.
  return std::shared_ptr<OrvexQuestWebViewController>(controller, screen.get());
}

void OrvexQuestWebViewController::present(const std::shared_ptr<ViewController>& presenter,
                                          const std::string& url) {
  if (!presenter) return;
  auto screen = create(url);
  if (!screen) return;
  screen->loadViewIfNeeded();
  presenter->present(screen->viewController(), true, {});
}

OrvexQuestWebViewController::OrvexQuestWebViewController(std::optional<std::string> url)
    : url_(std::move(url)), questDomains_(platform().deployment.questDomains) {}

OrvexQuestWebViewController::~OrvexQuestWebViewController() = default;

void OrvexQuestWebViewController::loadViewIfNeeded() {
  if (std::exchange(viewLoaded_, true)) return;
  auto controller = controller_.lock();
  const auto& ui = platform().ui;
  if (!controller || !ui) return;
  auto root = controller->view();
  root->setBackgroundColor(kWhite);

  WebViewConfiguration configuration;
  configuration.group = WebContentGroup::site;  // the quest site's session, apart from ads
  webView_ = ui->makeWebView(configuration);
  if (webView_) {
    webView_->addUserScript(
        UserScript{kBridgeScript, UserScriptInjectionTime::atDocumentStart, true});
    // The web view holds its handlers strongly: agents, so that the page never keeps the screen.
    auto bridge = std::make_shared<UserContentControlAgentAsync>();
    bridge->delegate = std::weak_ptr<ScriptMessageHandlerWithReply>(shared_from_this());
    webView_->addScriptMessageHandlerWithReply(bridge, kBridgeHandlerName);
    auto closer = std::make_shared<UserContentControlAgent>();
    closer->delegate = std::weak_ptr<ScriptMessageHandler>(shared_from_this());
    webView_->addScriptMessageHandler(closer, kCloseHandlerName);
    webView_->setAllowsBackForwardGestures(true);
    webView_->setBackgroundColor(0);
    webView_->setNavigationDelegate(std::weak_ptr<WebViewNavigationDelegate>(shared_from_this()));
    root->addSubview(webView_);
  }
  activityIndicatorView_ = ui->makeActivityIndicator();
  if (activityIndicatorView_) root->addSubview(activityIndicatorView_);
  std::weak_ptr<OrvexQuestWebViewController> weak = weak_from_this();
  root->setLayoutHandler([weak] {
    if (auto self = weak.lock()) self->layout();
  });
  layout();

  if (webView_ && url_) {
    awaitingOwnLoad_ = true;
    webView_->loadURL(*url_, kRequestTimeoutSeconds);
  }
  if (activityIndicatorView_) activityIndicatorView_->startAnimating();
  timer_ =
      platform().dispatcher->scheduleTimer(secondsToDuration(kLoadWatchdogSeconds), false, [weak] {
        if (auto self = weak.lock()) self->loadFailed();
      });
}

void OrvexQuestWebViewController::layout() {
  auto controller = controller_.lock();
  if (!controller) return;
  auto root = controller->view();
  const Rect bounds = root->bounds();
  // Below the status bar, to the bottom edge.
  const double top = root->safeAreaFrame().minY() - bounds.minY();
  if (webView_) {
    webView_->setFrame(Rect(0, top, bounds.size.width, std::max(0.0, bounds.size.height - top)));
  }
  if (activityIndicatorView_) {
    activityIndicatorView_->setFrame(Rect((bounds.size.width - kSpinnerSide) / 2,
                                          (bounds.size.height - kSpinnerSide) / 2, kSpinnerSide,
                                          kSpinnerSide));
  }
}

void OrvexQuestWebViewController::removeSpinner() {
  if (!activityIndicatorView_) return;
  activityIndicatorView_->stopAnimating();
  activityIndicatorView_->removeFromSuperview();
  activityIndicatorView_.reset();
}

void OrvexQuestWebViewController::didFinish(WebView& webView) {
  timer_.reset();
  removeSpinner();
  // The alert is already up: a page arriving late must not show beneath it.
  if (failedToLoad_) webView.setHidden(true);
}

void OrvexQuestWebViewController::didFail(WebView&, const WebError& error) {
  if (error.isCancelled()) return;
  loadFailed();
}

void OrvexQuestWebViewController::loadFailed() {
  timer_.reset();
  removeSpinner();
  // The watchdog and the load's own failure may both come: one alert.
  if (std::exchange(failedToLoad_, true)) return;
  // A load refused at once fails while the screen is still coming up, when the platform ignores
  // a presentation over it: the alert waits until the screen is on.
  if (!appeared_) {
    alertPending_ = true;
    return;
  }
  showFailureAlert();
}

void OrvexQuestWebViewController::showFailureAlert() {
  auto controller = controller_.lock();
  const auto& ui = platform().ui;
  if (!controller || !ui) return;
  const auto strings = LocalizedStrings::forDevice();
  auto alert = ui->makeAlertController(std::nullopt, strings.text("orvex_vesk_fail_to_load_page"));
  if (!alert) {
    // Without an alert there is nothing to wait for: the screen would stay blank.
    close();
    return;
  }
  std::weak_ptr<OrvexQuestWebViewController> weak = weak_from_this();
  alert->addAction(AlertAction{strings.text("orvex_vesk_ok"), AlertActionStyle::standard, [weak] {
                                 if (auto self = weak.lock()) self->close();
                               }});
  controller->present(alert, true, {});
}

void OrvexQuestWebViewController::close() {
  if (!appeared_) {
    closeRequested_ = true;
    return;
  }
  if (auto controller = controller_.lock()) controller->dismiss(true, {});
}

void OrvexQuestWebViewController::viewDidAppear(bool) {
  appeared_ = true;
  if (std::exchange(closeRequested_, false)) {
    close();
  } else if (std::exchange(alertPending_, false)) {
    showFailureAlert();
  }
}

bool OrvexQuestWebViewController::isQuestHost(std::string_view host,
                                              const std::vector<std::string>& domains) {
  for (const auto& domain : domains) {
    if (domain.empty()) continue;
    const RE2 pattern("(?i)^([a-zA-Z0-9-]+\\.)*" + RE2::QuoteMeta(domain) + "$");
    if (pattern.ok() && RE2::PartialMatch(host, pattern)) return true;
  }
  return false;
}

void OrvexQuestWebViewController::handToSystem(const std::string& url) {
  // Posted, as a system open is on the phone; refused there unless the scheme is allowed.
  platform().dispatcher->mainQueue()->post([url] { openExternally(url); });
}

NavigationPolicy OrvexQuestWebViewController::route(const NavigationAction& action) {
  if (!action.url) return NavigationPolicy::cancel;
  const std::string& text = *action.url;
  const auto url = Url::parse(text);
  const bool web = url && (url->scheme() == "http" || url->scheme() == "https");
  if (action.target == NavigationTarget::subFrame) {
    // A page's embeds load in their frame; only a user's tap takes a non-web link out.
    if (web) return NavigationPolicy::allow;
    if (action.userGesture) handToSystem(text);
    return NavigationPolicy::cancel;
  }
  const bool own =
      action.target == NavigationTarget::mainFrame && std::exchange(awaitingOwnLoad_, false);
  const bool onQuestSite = url && !url->host().empty() && isQuestHost(url->host(), questDomains_);
  if (!action.userGesture && !own) {
    // The page by itself never leaves the quest site and never launches a handler.
    return web && onQuestSite ? NavigationPolicy::allow : NavigationPolicy::cancel;
  }
  const bool followsLink =
      action.type == NavigationType::linkActivated || action.type == NavigationType::other;
  if (web && (onQuestSite || !followsLink)) return NavigationPolicy::allow;
  handToSystem(text);
  return NavigationPolicy::cancel;
}

void OrvexQuestWebViewController::decidePolicy(WebView&, const NavigationAction& action,
                                               std::function<void(NavigationPolicy)> decide) {
  decide(route(action));
}

void OrvexQuestWebViewController::requestsNewWindow(WebView&, const NavigationAction& action) {
  // No second window: a link meant for one either stays out (the system) or is refused here.
  route(action);
}

void OrvexQuestWebViewController::playHaptic(Haptics& haptics, std::string_view type) {
  if (type == "light") return haptics.impactOccurred(ImpactStyle::light);
  if (type == "heavy") return haptics.impactOccurred(ImpactStyle::heavy);
  if (type == "soft") return haptics.impactOccurred(ImpactStyle::soft);
  if (type == "rigid") return haptics.impactOccurred(ImpactStyle::rigid);
  if (type == "selection") return haptics.selectionChanged();
  if (type == "vibrate") return haptics.playVibrationSound();
  haptics.impactOccurred(ImpactStyle::medium);
}

void OrvexQuestWebViewController::didReceive(WebView&, const ScriptMessage& message, Reply reply) {
  // Every message is answered, if only with nothing, so that the page's promise settles.
  std::optional<Value> answer;
  const Value* sig = message.body.find("sig");
  const std::string* name = sig ? sig->asString() : nullptr;
  if (name && *name == "getAppVersion") {
    answer = Value("iOS/" + Orvex::sdkVersion() + "/" + Orvex::shared().device().appVersion);
  } else if (name && *name == "haptic") {
    const Value* payload = message.body.find("payload");
    const Value* type = payload ? payload->find("type") : nullptr;
    const std::string* text = type ? type->asString() : nullptr;
    if (text && platform().haptics) playHaptic(*platform().haptics, *text);
  }
  if (reply) reply(std::move(answer), std::nullopt);
}

void OrvexQuestWebViewController::didReceive(WebView&, const ScriptMessage& message) {
  const Value* action = message.body.find("action");
  const std::string* text = action ? action->asString() : nullptr;
  if (text && *text == "close") close();
}

}  // namespace orvex
