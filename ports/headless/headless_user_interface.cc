#include "ports/headless/headless_user_interface.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "ports/linux/system_links.h"

namespace orvex::headless {

namespace {

std::shared_ptr<TaskQueue> mainQueueOf(const std::weak_ptr<HeadlessUserInterface>& ui) {
  auto u = ui.lock();
  return u ? u->mainQueue() : nullptr;
}

}  // namespace

void adoptView(const std::shared_ptr<HeadlessViewController>& controller) {
  controller->view_->setViewController(controller);
}

// ---- HeadlessViewController ----

HeadlessViewController::HeadlessViewController(std::weak_ptr<HeadlessUserInterface> ui,
                                               ViewControllerKind kind,
                                               std::shared_ptr<HeadlessView> view)
    : linux_port::ViewControllerModel(mainQueueOf(ui), kind, view),
      ui_(std::move(ui)),
      view_(std::move(view)) {}

std::shared_ptr<HeadlessViewController> HeadlessViewController::create(
    std::weak_ptr<HeadlessUserInterface> ui, ViewControllerKind kind) {
  std::shared_ptr<HeadlessViewController> c(
      new HeadlessViewController(std::move(ui), kind, std::make_shared<HeadlessView>()));
  adoptView(c);
  return c;
}

void HeadlessViewController::willBePresented() {
  auto ui = ui_.lock();
  if (!ui) return;
  if (auto* store = dynamic_cast<HeadlessStoreProductViewController*>(this)) {
    ui->recordOpened({OpenedLink::Kind::storeProduct, store->itemIdentifier()});
  } else if (auto* browser = dynamic_cast<HeadlessInAppBrowser*>(this)) {
    ui->recordOpened({OpenedLink::Kind::inAppBrowser, browser->url()});
  }
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

HeadlessAlertController::HeadlessAlertController(std::weak_ptr<HeadlessUserInterface> ui,
                                                 std::optional<std::string> title,
                                                 std::optional<std::string> message)
    : linux_port::AlertModel(mainQueueOf(ui), std::make_shared<HeadlessView>(), std::move(title),
                             std::move(message)),
      ui_(std::move(ui)) {}

std::shared_ptr<HeadlessAlertController> HeadlessAlertController::create(
    std::weak_ptr<HeadlessUserInterface> ui, std::optional<std::string> title,
    std::optional<std::string> message) {
  std::shared_ptr<HeadlessAlertController> c(
      new HeadlessAlertController(std::move(ui), std::move(title), std::move(message)));
  headlessView(*c->view()).setViewController(c);
  return c;
}

void HeadlessAlertController::willBePresented() {
  if (auto ui = ui_.lock()) {
    ui->recordAlert(std::static_pointer_cast<HeadlessAlertController>(
        std::dynamic_pointer_cast<linux_port::AlertModel>(shared_from_this())));
  }
}

// ---- HeadlessWindow ----

void HeadlessWindow::setRootViewController(std::shared_ptr<ViewController> controller) {
  ++transition_;
  dropOutgoing();
  if (root_) root_->view()->removeFromSuperview();
  root_ = std::move(controller);
  if (!root_) return;
  auto v = root_->view();
  insertSubview(v, 0);
  v->setFillsSuperview(true);
}

void HeadlessWindow::dropOutgoing() {
  if (auto old = std::exchange(outgoing_, nullptr)) {
    if (old->superview().get() == static_cast<View*>(this)) old->removeFromSuperview();
  }
}

void HeadlessWindow::transitionToRootViewController(std::shared_ptr<ViewController> controller,
                                                    double seconds,
                                                    std::function<void()> completion) {
  auto queue = mainQueueOf(ui_);
  auto old = root_ ? root_->view() : nullptr;
  if (!controller || !queue || !old || controller == root_) {
    setRootViewController(std::move(controller));
    if (completion && queue) queue->post(std::move(completion));
    return;
  }
  const unsigned id = ++transition_;
  dropOutgoing();
  root_ = std::move(controller);
  auto incoming = root_->view();
  const auto below = subviews();
  const auto at = std::find(below.begin(), below.end(), old);
  insertSubview(incoming, static_cast<std::size_t>(at - below.begin()) + 1);
  incoming->setFillsSuperview(true);
  incoming->setAlpha(0);
  outgoing_ = std::move(old);
  auto weak =
      std::weak_ptr<HeadlessWindow>(std::dynamic_pointer_cast<HeadlessWindow>(shared_from_this()));
  std::weak_ptr<View> fading = incoming;
  runFrames(
      queue, seconds,
      [fading](double progress) {
        if (auto view = fading.lock()) view->setAlpha(progress);
        return true;
      },
      [weak, id, completion = std::move(completion), queue = std::weak_ptr<TaskQueue>(queue)] {
        auto window = weak.lock();
        if (window && window->transition_ == id) window->dropOutgoing();
        auto q = queue.lock();
        if (completion && q) q->post(completion);
      });
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

std::shared_ptr<Button> HeadlessUserInterface::makeButton() {
  return std::make_shared<HeadlessButton>();
}

std::shared_ptr<ScrollView> HeadlessUserInterface::makeScrollView() {
  return std::make_shared<HeadlessScrollView>(mainQueue_);
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
  if (!linux_port::maySystemOpen(url)) return;
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
  alertsShown_.add({alert->title(), alert->message(), alert->actionTitles()});
  std::erase_if(alerts_, [](const auto& w) { return w.expired(); });
  alerts_.push_back(alert);
}

std::shared_ptr<HeadlessAlertController> HeadlessUserInterface::visibleAlert() const {
  for (auto it = alerts_.rbegin(); it != alerts_.rend(); ++it) {
    if (auto alert = it->lock(); alert && alert->presentingViewController()) return alert;
  }
  return nullptr;
}

}  // namespace orvex::headless
