#include "orvex/web/link_opener.h"

#include <re2/re2.h>

#include <atomic>

#include "orvex/core/orvex.h"
#include "orvex/core/seams.h"
#include "orvex/core/simple_logger.h"

namespace orvex {
namespace {

SimpleLogger& logger() {
  static SimpleLogger instance("LinkOpener");
  return instance;
}

std::shared_ptr<UserInterface> screen() {
  return Orvex::shared().platform().ui;
}

void openOrdinaryLink(const std::weak_ptr<ViewController>& presenter, const Url& url,
                      std::optional<BrowserTarget> browserTarget) {
  auto ui = screen();
  if (!ui) return;
  const bool inApp = Orvex::useInAppBrowser() || browserTarget == BrowserTarget::INTERNAL;
  if (inApp && url.scheme().starts_with("http")) {
    if (auto p = presenter.lock()) p->present(ui->makeInAppBrowser(url.text()), true, {});
    return;
  }
  openExternally(url.text());
}

}  // namespace

bool isSystemLinkScheme(std::string_view scheme) {
  return scheme == "http" || scheme == "https" || scheme == "mailto" || scheme == "tel" ||
         scheme == "sms";
}

void openExternally(const std::string& url) {
  auto ui = screen();
  if (!ui) return;
  const auto parsed = Url::parse(url);
  if (!parsed || !isSystemLinkScheme(parsed->scheme())) {
    logger().log("refused to open " + url + " outside the app");
    return;
  }
  ui->openExternalURL(url);
}

std::optional<std::string> appStoreProductId(const Url& url, const std::string& appStoreHost) {
  if (url.host().empty() || appStoreHost.empty() ||
      url.host().find(appStoreHost) == std::string::npos) {
    return std::nullopt;
  }
  // RE2 has no look-behind: the digits after "/id" are the capture.
  static const RE2 idPattern("/id(\\d+)");
  static const RE2 digitsOnly("^[0-9]+$");
  std::string id;
  if (!RE2::PartialMatch(url.text(), idPattern, &id)) return std::nullopt;
  if (!RE2::FullMatch(id, digitsOnly)) return std::nullopt;
  return id;
}

void openLink(const std::shared_ptr<ViewController>& presenter, const Url& url,
              std::optional<BrowserTarget> browserTarget) {
  std::weak_ptr<ViewController> weakPresenter = presenter;
  auto ui = screen();
  if (!ui) return;
  auto id = appStoreProductId(url, Orvex::shared().platform().deployment.appStoreHost);
  if (!id) {
    openOrdinaryLink(weakPresenter, url, browserTarget);
    return;
  }
  auto sheet = ui->makeStoreProductViewController();
  // The sheet lives in this completion until the product has loaded.
  sheet->loadProduct(*id, [sheet, weakPresenter, url, browserTarget](
                              bool loaded, std::optional<std::string> error) mutable {
    auto keep = std::move(sheet);
    if (error) {
      logger().log("cannot open " + url.text() + " in SKStoreProductViewController. " + *error);
    } else if (loaded) {
      if (auto p = weakPresenter.lock()) p->present(keep, true, {});
      return;
    }
    openOrdinaryLink(weakPresenter, url, browserTarget);
  });
}

std::shared_ptr<ViewController> nearestViewController(const View& view) {
  if (auto c = view.viewController()) return c;
  for (auto v = view.superview(); v; v = v->superview()) {
    if (auto c = v->viewController()) return c;
  }
  return nullptr;
}

std::shared_ptr<ViewController> outermostViewController(const View& view) {
  auto c = nearestViewController(view);
  if (!c) return nullptr;
  while (auto parent = c->parentViewController()) c = parent;
  return c;
}

std::shared_ptr<Window> firstSceneKeyWindow() {
  auto ui = screen();
  return ui ? ui->firstSceneKeyWindow() : nullptr;
}

std::shared_ptr<ViewController> topMostViewController() {
  auto ui = screen();
  if (!ui) return nullptr;
  std::shared_ptr<Window> key;
  for (auto& w : ui->windows()) {
    if (w->isKeyWindow()) {
      key = w;
      break;
    }
  }
  if (!key) return nullptr;
  auto c = key->rootViewController();
  // Bounded: a malformed hierarchy must not loop forever.
  for (int depth = 0; c && depth < 64; ++depth) {
    std::shared_ptr<ViewController> next;
    if (c->kind() == ViewControllerKind::navigation) {
      next = c->visibleViewController();
    } else if (c->kind() == ViewControllerKind::tabBar && c->selectedViewController()) {
      next = c->selectedViewController();
    } else {
      next = c->presentedViewController();
    }
    if (!next) break;
    c = next;
  }
  return c;
}

namespace seams {
bool interfaceIsPortrait() {
  // Ad requests may start off the main thread, where the screen must not be touched: they get
  // the orientation last seen on the main thread.
  static std::atomic<bool> lastSeen{true};
  const auto& platform = Orvex::shared().platform();
  if (!platform.ui || !platform.dispatcher || !platform.dispatcher->isMainThread()) {
    return lastSeen.load();
  }
  auto windows = platform.ui->windows();
  bool portrait = true;
  if (!windows.empty()) {
    auto o = windows.front()->interfaceOrientation();
    portrait =
        o != InterfaceOrientation::landscapeLeft && o != InterfaceOrientation::landscapeRight;
  }
  lastSeen.store(portrait);
  return portrait;
}
}  // namespace seams

}  // namespace orvex
