#include "ports/headless/headless_user_interface.h"

#include <algorithm>
#include <chrono>

namespace orvex::headless {
namespace {

constexpr auto kAnimationDuration = std::chrono::milliseconds(300);
// A page sheet leaves the top of the screen to what it covers.
constexpr double kPageSheetTop = 54;

std::shared_ptr<HeadlessViewController> asHeadless(const std::shared_ptr<ViewController>& c) {
  return std::dynamic_pointer_cast<HeadlessViewController>(c);
}

}  // namespace

void adoptView(const std::shared_ptr<HeadlessViewController>& controller) {
  controller->view_->setViewController(controller);
}

// ---- HeadlessViewController ----

HeadlessViewController::HeadlessViewController(std::weak_ptr<HeadlessUserInterface> ui,
                                               ViewControllerKind kind,
                                               std::shared_ptr<HeadlessView> view)
    : ui_(std::move(ui)), kind_(kind), view_(std::move(view)) {}

HeadlessViewController::~HeadlessViewController() {
  for (auto& child : children_) {
    if (auto c = asHeadless(child)) c->parent_.reset();
  }
}

std::shared_ptr<HeadlessViewController> HeadlessViewController::create(
    std::weak_ptr<HeadlessUserInterface> ui, ViewControllerKind kind) {
  std::shared_ptr<HeadlessViewController> c(
      new HeadlessViewController(std::move(ui), kind, std::make_shared<HeadlessView>()));
  adoptView(c);
  return c;
}

void HeadlessViewController::addChildViewController(std::shared_ptr<ViewController> child) {
  auto c = asHeadless(child);
  if (!c || c.get() == this) return;
  c->removeFromParentViewController();
  auto previousTop = children_.empty() ? nullptr : children_.back();
  children_.push_back(child);
  c->parent_ = weak_from_this();
  if (kind_ == ViewControllerKind::navigation) {
    if (previousTop) previousTop->view()->removeFromSuperview();
    showChild(child);
  } else if (kind_ == ViewControllerKind::tabBar && children_.size() - 1 == selectedTab_) {
    showChild(child);
  }
}

void HeadlessViewController::showChild(const std::shared_ptr<ViewController>& child) {
  auto v = child->view();
  view_->addSubview(v);
  v->setFillsSuperview(true);
}

void HeadlessViewController::removeFromParentViewController() {
  auto parent = asHeadless(parent_.lock());
  parent_.reset();
  if (!parent) return;
  auto self = shared_from_this();
  auto& siblings = parent->children_;
  auto it = std::find(siblings.begin(), siblings.end(), self);
  if (it == siblings.end()) return;
  bool wasShown = view_->superview() == parent->view_;
  siblings.erase(it);
  if (wasShown && (parent->kind_ == ViewControllerKind::navigation ||
                   parent->kind_ == ViewControllerKind::tabBar)) {
    view_->removeFromSuperview();
    if (parent->kind_ == ViewControllerKind::navigation && !siblings.empty()) {
      parent->showChild(siblings.back());
    } else if (parent->kind_ == ViewControllerKind::tabBar) {
      parent->selectTab(std::min(parent->selectedTab_, siblings.empty() ? 0 : siblings.size() - 1));
    }
  }
}

std::shared_ptr<ViewController> HeadlessViewController::visibleViewController() const {
  if (kind_ != ViewControllerKind::navigation) return nullptr;
  if (auto presented = presented_) return presented;
  return children_.empty() ? nullptr : children_.back();
}

std::shared_ptr<ViewController> HeadlessViewController::selectedViewController() const {
  if (kind_ != ViewControllerKind::tabBar || selectedTab_ >= children_.size()) return nullptr;
  return children_[selectedTab_];
}

void HeadlessViewController::selectTab(std::size_t index) {
  if (kind_ != ViewControllerKind::tabBar) return;
  if (auto current = selectedViewController()) current->view()->removeFromSuperview();
  selectedTab_ = index;
  if (auto next = selectedViewController()) showChild(next);
}

std::shared_ptr<HeadlessViewController> HeadlessViewController::presentationContext() {
  auto context = std::dynamic_pointer_cast<HeadlessViewController>(shared_from_this());
  while (auto parent = asHeadless(context->parent_.lock())) context = parent;
  return context;
}

std::shared_ptr<ViewController> HeadlessViewController::presentedViewController() const {
  auto* self = const_cast<HeadlessViewController*>(this);
  return parent_.expired() ? presented_ : self->presentationContext()->presented_;
}

void HeadlessViewController::notify(void (AppearanceObserver::*event)(bool), bool animated) const {
  if (auto observer = observer_.lock()) ((*observer).*event)(animated);
}

void HeadlessViewController::finishTransition(bool animated, std::function<void()> step) {
  auto ui = ui_.lock();
  if (!ui) return;
  if (animated) {
    ui->mainQueue()->postAfter(kAnimationDuration, std::move(step));
  } else {
    ui->mainQueue()->post(std::move(step));
  }
}

void HeadlessViewController::present(std::shared_ptr<ViewController> controller, bool animated,
                                     std::function<void()> completion) {
  auto context = presentationContext();
  auto p = asHeadless(controller);
  // The platform refuses these with a console warning and never completes.
  if (!p || context->presented_ || context->transitioning_ || p == context ||
      !p->presenting_.expired() || !p->parent_.expired()) {
    return;
  }
  auto window = context->view_->window();
  if (!window) return;
  auto ui = ui_.lock();
  if (!ui) return;

  context->presented_ = p;
  p->presenting_ = context;
  p->transitioning_ = true;
  if (p->kind_ == ViewControllerKind::storeProduct) {
    if (auto store = std::dynamic_pointer_cast<HeadlessStoreProductViewController>(p)) {
      ui->recordOpened({OpenedLink::Kind::storeProduct, store->itemIdentifier()});
    }
  } else if (p->kind_ == ViewControllerKind::inAppBrowser) {
    if (auto browser = std::dynamic_pointer_cast<HeadlessInAppBrowser>(p)) {
      ui->recordOpened({OpenedLink::Kind::inAppBrowser, browser->url()});
    }
  } else if (auto alert = std::dynamic_pointer_cast<HeadlessAlertController>(p)) {
    ui->recordAlert(alert);
  }

  Rect b = window->bounds();
  bool fullScreen = p->style_ == PresentationStyle::fullScreen;
  p->view_->setFrame(p->style_ == PresentationStyle::pageSheet
                         ? Rect(0, kPageSheetTop, b.size.width, b.size.height - kPageSheetTop)
                         : Rect(0, 0, b.size.width, b.size.height));
  window->addSubview(p->view_);
  p->notify(&AppearanceObserver::viewWillAppear, animated);
  if (fullScreen) context->notify(&AppearanceObserver::viewWillDisappear, animated);

  std::weak_ptr<HeadlessViewController> weakContext = context;
  finishTransition(animated,
                   [p, weakContext, animated, fullScreen, completion = std::move(completion)] {
                     p->transitioning_ = false;
                     if (fullScreen) {
                       // The platform takes what a full-screen presentation covers out of the
                       // window.
                       if (auto window = p->view_->window()) {
                         for (auto& v : window->subviews()) {
                           if (v == p->view_) break;
                           p->covered_.push_back(v);
                           v->removeFromSuperview();
                         }
                       }
                     }
                     p->notify(&AppearanceObserver::viewDidAppear, animated);
                     if (auto context = weakContext.lock(); context && fullScreen) {
                       context->notify(&AppearanceObserver::viewDidDisappear, animated);
                     }
                     if (completion) completion();
                   });
}

void HeadlessViewController::dismiss(bool animated, std::function<void()> completion) {
  auto context = presentationContext();
  if (context->presented_) {
    context->dismissPresented(animated, std::move(completion));
  } else if (auto presenter = asHeadless(presenting_.lock())) {
    presenter->dismissPresented(animated, std::move(completion));
  }
}

void HeadlessViewController::dismissPresented(bool animated, std::function<void()> completion) {
  auto p = asHeadless(presented_);
  if (!p || p->transitioning_) return;
  // What the presented one presents goes with it.
  if (p->presented_) p->dismissPresented(false, {});
  p->transitioning_ = true;
  bool fullScreen = p->style_ == PresentationStyle::fullScreen;
  if (auto window = p->view_->window()) {
    std::size_t index = 0;
    for (auto& v : p->covered_) window->insertSubview(v, index++);
  }
  p->covered_.clear();
  p->notify(&AppearanceObserver::viewWillDisappear, animated);
  if (fullScreen) notify(&AppearanceObserver::viewWillAppear, animated);

  auto self = std::dynamic_pointer_cast<HeadlessViewController>(shared_from_this());
  finishTransition(animated, [self, p, animated, fullScreen, completion = std::move(completion)] {
    p->view_->removeFromSuperview();
    p->transitioning_ = false;
    p->presenting_.reset();
    if (self->presented_ == p) self->presented_.reset();
    p->notify(&AppearanceObserver::viewDidDisappear, animated);
    if (fullScreen) self->notify(&AppearanceObserver::viewDidAppear, animated);
    if (completion) completion();
  });
}

// ---- sheets ----

std::shared_ptr<HeadlessStoreProductViewController> HeadlessStoreProductViewController::create(
    std::weak_ptr<HeadlessUserInterface> ui) {
  std::shared_ptr<HeadlessStoreProductViewController> c(new HeadlessStoreProductViewController(
      std::move(ui), ViewControllerKind::storeProduct, std::make_shared<HeadlessView>()));
  adoptView(c);
  return c;
}

void HeadlessStoreProductViewController::loadProduct(
    const std::string& itemIdentifier,
    std::function<void(bool loaded, std::optional<std::string> error)> completion) {
  itemIdentifier_ = itemIdentifier;
  auto ui = ui_.lock();
  if (!ui || !completion) return;
  auto [loaded, error] = ui->storeProductOutcome();
  ui->mainQueue()->post([completion = std::move(completion), loaded = loaded, error = error] {
    completion(loaded, error);
  });
}

std::shared_ptr<HeadlessInAppBrowser> HeadlessInAppBrowser::create(
    std::weak_ptr<HeadlessUserInterface> ui, std::string url) {
  std::shared_ptr<HeadlessInAppBrowser> c(new HeadlessInAppBrowser(
      std::move(ui), ViewControllerKind::inAppBrowser, std::make_shared<HeadlessView>()));
  c->url_ = std::move(url);
  adoptView(c);
  return c;
}

// ---- alerts ----

std::shared_ptr<HeadlessAlertController> HeadlessAlertController::create(
    std::weak_ptr<HeadlessUserInterface> ui, std::optional<std::string> title,
    std::optional<std::string> message) {
  std::shared_ptr<HeadlessAlertController> c(new HeadlessAlertController(
      std::move(ui), ViewControllerKind::plain, std::make_shared<HeadlessView>()));
  c->title_ = std::move(title);
  c->message_ = std::move(message);
  c->fixPresentationStyle(PresentationStyle::overFullScreen);
  adoptView(c);
  return c;
}

std::vector<std::string> HeadlessAlertController::actionTitles() const {
  std::vector<std::string> titles;
  for (const auto& a : actions_) titles.push_back(a.title);
  return titles;
}

bool HeadlessAlertController::choose(std::size_t index) {
  if (index >= actions_.size() || chosen_ || !presentingViewController() || isTransitioning())
    return false;
  chosen_ = true;
  dismiss(true, [handler = actions_[index].handler] {
    if (handler) handler();
  });
  return true;
}

bool HeadlessAlertController::choose(const std::string& title) {
  for (std::size_t i = 0; i < actions_.size(); ++i) {
    if (actions_[i].title == title) return choose(i);
  }
  return false;
}

// ---- HeadlessWindow ----

void HeadlessWindow::setRootViewController(std::shared_ptr<ViewController> controller) {
  if (root_) root_->view()->removeFromSuperview();
  root_ = std::move(controller);
  if (!root_) return;
  auto v = root_->view();
  insertSubview(v, 0);
  v->setFillsSuperview(true);
}

bool HeadlessWindow::isKeyWindow() const {
  auto ui = ui_.lock();
  return ui && ui->isKey(this);
}

void HeadlessWindow::makeKeyAndVisible() {
  setHidden(false);
  if (auto ui = ui_.lock()) ui->makeKey(this);
}

InterfaceOrientation HeadlessWindow::interfaceOrientation() const {
  auto ui = ui_.lock();
  return ui ? ui->orientation() : InterfaceOrientation::unknown;
}

InterfaceStyle HeadlessWindow::interfaceStyle() const {
  auto ui = ui_.lock();
  return ui ? ui->interfaceStyle() : InterfaceStyle::light;
}

// ---- HeadlessUserInterface ----

std::shared_ptr<HeadlessUserInterface> HeadlessUserInterface::create(
    std::shared_ptr<TaskQueue> mainQueue, HeadlessUserInterfaceOptions options) {
  return std::shared_ptr<HeadlessUserInterface>(
      new HeadlessUserInterface(std::move(mainQueue), options));
}

std::vector<std::shared_ptr<Window>> HeadlessUserInterface::windows() const {
  return {windows_.begin(), windows_.end()};
}

std::shared_ptr<Window> HeadlessUserInterface::firstSceneKeyWindow() const {
  for (auto& w : windows_) {
    if (w.get() == keyWindow_) return w;
  }
  return nullptr;
}

std::shared_ptr<View> HeadlessUserInterface::makeView() {
  return std::make_shared<HeadlessView>();
}

std::shared_ptr<ImageView> HeadlessUserInterface::makeImageView() {
  return std::make_shared<HeadlessImageView>();
}

std::shared_ptr<Label> HeadlessUserInterface::makeLabel() {
  return std::make_shared<HeadlessLabel>();
}

std::shared_ptr<WebView> HeadlessUserInterface::makeWebView(
    const WebViewConfiguration& configuration) {
  return webViewFactory_ ? webViewFactory_(configuration) : nullptr;
}

std::shared_ptr<ViewController> HeadlessUserInterface::makeViewController(ViewControllerKind kind) {
  if (kind == ViewControllerKind::storeProduct) return makeStoreProductViewController();
  if (kind == ViewControllerKind::inAppBrowser) return makeInAppBrowser("");
  return HeadlessViewController::create(weak_from_this(), kind);
}

std::shared_ptr<StoreProductViewController>
HeadlessUserInterface::makeStoreProductViewController() {
  return HeadlessStoreProductViewController::create(weak_from_this());
}

std::shared_ptr<InAppBrowserViewController> HeadlessUserInterface::makeInAppBrowser(
    const std::string& url) {
  return HeadlessInAppBrowser::create(weak_from_this(), url);
}

std::shared_ptr<Window> HeadlessUserInterface::makeWindow() {
  auto w = std::make_shared<HeadlessWindow>(weak_from_this());
  w->setFrame(options_.screenBounds);
  windows_.push_back(w);
  return w;
}

std::shared_ptr<HeadlessWindow> HeadlessUserInterface::makeKeyWindowWithRootController() {
  auto w = std::dynamic_pointer_cast<HeadlessWindow>(makeWindow());
  w->setRootViewController(makeViewController(ViewControllerKind::plain));
  w->makeKeyAndVisible();
  return w;
}

void HeadlessUserInterface::removeWindow(const std::shared_ptr<Window>& window) {
  if (window.get() == keyWindow_) keyWindow_ = nullptr;
  std::erase_if(windows_, [&](const auto& w) { return w == window; });
}

void HeadlessUserInterface::makeKey(const Window* window) {
  keyWindow_ = window;
}

void HeadlessUserInterface::setStoreProductOutcome(bool loaded, std::optional<std::string> error) {
  storeOutcome_ = {loaded, std::move(error)};
}

void HeadlessUserInterface::openExternalURL(const std::string& url) {
  recordOpened({OpenedLink::Kind::external, url});
}

std::shared_ptr<AlertController> HeadlessUserInterface::makeAlertController(
    std::optional<std::string> title, std::optional<std::string> message) {
  return HeadlessAlertController::create(weak_from_this(), std::move(title), std::move(message));
}

std::shared_ptr<ActivityIndicatorView> HeadlessUserInterface::makeActivityIndicator() {
  return std::make_shared<HeadlessActivityIndicator>();
}

void HeadlessUserInterface::recordAlert(const std::shared_ptr<HeadlessAlertController>& alert) {
  alertsShown_.push_back({alert->title(), alert->message(), alert->actionTitles()});
  std::erase_if(alerts_, [](const auto& w) { return w.expired(); });
  alerts_.push_back(alert);
}

std::shared_ptr<HeadlessAlertController> HeadlessUserInterface::visibleAlert() const {
  for (auto it = alerts_.rbegin(); it != alerts_.rend(); ++it) {
    if (auto alert = it->lock(); alert && alert->presentingViewController()) return alert;
  }
  return nullptr;
}

void HeadlessUserInterface::recordOpened(OpenedLink link) {
  opened_.push_back(link);
  if (openObserver_) openObserver_(opened_.back());
}

}  // namespace orvex::headless
