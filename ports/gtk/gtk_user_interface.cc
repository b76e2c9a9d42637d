#include "ports/gtk/gtk_user_interface.h"

#include <webkit/webkit.h>

#include <algorithm>
#include <chrono>

#include "orvex/core/url.h"
#include "ports/gtk/gtk_scroll_view.h"
#include "ports/gtk/gtk_web_view.h"
#include "ports/linux/system_links.h"

namespace orvex::gtk {
namespace {

constexpr const char* kWindowKey = "orvex-window-view";
constexpr int kBrowserWidth = 800;
constexpr int kBrowserHeight = 640;

std::shared_ptr<TaskQueue> mainQueueOf(const std::weak_ptr<GtkUserInterface>& ui) {
  auto u = ui.lock();
  return u ? u->mainQueue() : nullptr;
}

}  // namespace

// ---- controllers ----

GtkViewController::GtkViewController(std::weak_ptr<GtkUserInterface> ui, ViewControllerKind kind,
                                     std::shared_ptr<View> view)
    : linux_port::ViewControllerModel(mainQueueOf(ui), kind, std::move(view)), ui_(std::move(ui)) {}

void GtkViewController::bindView(const std::shared_ptr<GtkViewController>& controller) {
  if (auto* v = GtkView::cast(*controller->view())) v->setViewController(controller);
}

std::shared_ptr<GtkViewController> GtkViewController::create(std::weak_ptr<GtkUserInterface> ui,
                                                             ViewControllerKind kind,
                                                             std::shared_ptr<View> view) {
  if (!view) view = std::make_shared<GtkView>();
  std::shared_ptr<GtkViewController> c(new GtkViewController(std::move(ui), kind, view));
  bindView(c);
  return c;
}

namespace {

bool isBrowsable(const char* uri) {
  return g_str_has_prefix(uri, "http:") || g_str_has_prefix(uri, "https:") ||
         g_str_has_prefix(uri, "about:") || g_str_has_prefix(uri, "data:") ||
         g_str_has_prefix(uri, "blob:");
}

gboolean onBrowserPolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                         WebKitPolicyDecisionType type, gpointer data) {
  if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) {
    if (webkit_response_policy_decision_is_mime_type_supported(
            WEBKIT_RESPONSE_POLICY_DECISION(decision))) {
      return FALSE;
    }
    webkit_policy_decision_ignore(decision);  // no downloads
    return TRUE;
  }
  WebKitNavigationAction* navigation = webkit_navigation_policy_decision_get_navigation_action(
      WEBKIT_NAVIGATION_POLICY_DECISION(decision));
  WebKitURIRequest* request = webkit_navigation_action_get_request(navigation);
  const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
  if (!uri) uri = "";
  if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION && isBrowsable(uri)) return FALSE;
  // A new window, or a scheme a browser page does not show: only a user's own click follows it.
  webkit_policy_decision_ignore(decision);
  if (webkit_navigation_action_is_user_gesture(navigation)) {
    static_cast<GtkBrowserSheet*>(data)->follow(uri);
  }
  return TRUE;
}

}  // namespace

GtkBrowserSheet::GtkBrowserSheet(std::weak_ptr<GtkUserInterface> ui, ViewControllerKind kind)
    : GtkViewController(std::move(ui), kind, std::make_shared<GtkView>()) {}

GtkBrowserSheet::~GtkBrowserSheet() {
  closeRequest_.disconnect();
  pageSignals_.clear();
}

GtkWidget* GtkBrowserSheet::makePage() {
  // Ephemeral and its own: neither the host's default session nor the ads'.
  auto* session = webkit_network_session_new_ephemeral();
  session_ = GObjectPtr<GObject>::adopt(G_OBJECT(session));
  refuseDownloads(session);
  WebKitSettings* settings = webkit_settings_new();
  webkit_settings_set_javascript_can_open_windows_automatically(settings, FALSE);
  GtkWidget* page = GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "network-session", session,
                                            "settings", settings, nullptr));
  g_object_unref(settings);
  pageSignals_.push_back(connectSignal(page, "decide-policy", &onBrowserPolicy, this));
  pageSignals_.push_back(connectSignal(
      page, "context-menu",
      +[](WebKitWebView*, WebKitContextMenu*, WebKitHitTestResult*, gpointer) -> gboolean {
        return TRUE;
      },
      this));
  return page;
}

void GtkBrowserSheet::follow(const std::string& url) {
  auto ui = ui_.lock();
  if (!ui) return;
  std::weak_ptr<ViewController> weak = shared_from_this();
  ui->mainQueue()->post([weak, url] {
    auto sheet = std::dynamic_pointer_cast<GtkBrowserSheet>(weak.lock());
    if (!sheet) return;
    const auto parsed = Url::parse(url);
    if (parsed && (parsed->scheme() == "http" || parsed->scheme() == "https")) {
      if (sheet->page_) webkit_web_view_load_uri(WEBKIT_WEB_VIEW(sheet->page_), url.c_str());
      return;
    }
    if (auto u = sheet->ui_.lock()) u->openExternalURL(url);
  });
}

GtkWindow* GtkBrowserSheet::browserWindow() const {
  return window_ ? window_->gtkWindow() : nullptr;
}

void GtkBrowserSheet::willBePresented() {
  auto ui = ui_.lock();
  if (!ui) return;
  if (auto* store = dynamic_cast<GtkStoreSheet*>(this)) {
    ui->recordOpened({OpenedLink::Kind::storeProduct, store->itemIdentifier()});
  } else {
    ui->recordOpened({OpenedLink::Kind::inAppBrowser, url_});
  }
}

void GtkBrowserSheet::showPresentedView(Window& over, const Rect&) {
  auto* presenter = dynamic_cast<GtkWindowView*>(&over);
  GtkWidget* gw = gtk_window_new();
  gtk_window_set_title(GTK_WINDOW(gw), url_.c_str());
  gtk_window_set_default_size(GTK_WINDOW(gw), kBrowserWidth, kBrowserHeight);
  if (presenter && presenter->gtkWindow()) {
    gtk_window_set_transient_for(GTK_WINDOW(gw), presenter->gtkWindow());
  }
  window_ = GtkWindowView::make(ui_, GTK_WINDOW(gw), true);
  // The page fills the browser; the view's container holds it.
  if (!page_) {
    page_ = makePage();
    GtkView::cast(*view())->setContent(page_);
  }
  window_->addSubview(view());
  view()->setFillsSuperview(true);
  closeRequest_ = connectSignal(
      gw, "close-request",
      +[](GtkWindow*, gpointer data) -> gboolean {
        auto* self = static_cast<GtkBrowserSheet*>(data);
        self->dismiss(false, {});
        // A dismissal asked for while the presentation is still in its transition is refused,
        // as on the phone; the user's close is honoured once the transition has ended.
        if (auto queue = mainQueueOf(self->ui_)) {
          auto weak = std::weak_ptr<ViewController>(self->shared_from_this());
          queue->postAfter(std::chrono::milliseconds(350), [weak] {
            auto sheet = weak.lock();
            if (sheet && sheet->presentingViewController()) sheet->dismiss(false, {});
          });
        }
        return TRUE;  // the sheet destroys its window when the dismissal ends
      },
      this);
  webkit_web_view_load_uri(WEBKIT_WEB_VIEW(page_), url_.c_str());
  gtk_window_present(GTK_WINDOW(gw));
}

void GtkBrowserSheet::hidePresentedView() {
  closeRequest_.disconnect();
  view()->removeFromSuperview();
  if (page_) webkit_web_view_stop_loading(WEBKIT_WEB_VIEW(page_));
  window_.reset();  // destroys the browser's window
}

std::shared_ptr<GtkInAppBrowser> GtkInAppBrowser::create(std::weak_ptr<GtkUserInterface> ui,
                                                         std::string url) {
  std::shared_ptr<GtkInAppBrowser> c(
      new GtkInAppBrowser(std::move(ui), ViewControllerKind::inAppBrowser));
  c->url_ = std::move(url);
  bindView(c);
  return c;
}

std::shared_ptr<GtkStoreSheet> GtkStoreSheet::create(std::weak_ptr<GtkUserInterface> ui) {
  std::shared_ptr<GtkStoreSheet> c(
      new GtkStoreSheet(std::move(ui), ViewControllerKind::storeProduct));
  bindView(c);
  return c;
}

void GtkStoreSheet::loadProduct(
    const std::string& itemIdentifier,
    std::function<void(bool loaded, std::optional<std::string> error)> completion) {
  itemIdentifier_ = itemIdentifier;
  auto ui = ui_.lock();
  if (!ui) return;
  url_ = "https://" + ui->appStoreHost() + "/app/id" + itemIdentifier;
  if (completion) ui->mainQueue()->post([completion] { completion(true, std::nullopt); });
}

// ---- alerts ----

GtkAlertController::GtkAlertController(std::weak_ptr<GtkUserInterface> ui,
                                       std::optional<std::string> title,
                                       std::optional<std::string> message)
    : linux_port::AlertModel(mainQueueOf(ui), std::make_shared<GtkView>(), std::move(title),
                             std::move(message)),
      ui_(std::move(ui)) {}

std::shared_ptr<GtkAlertController> GtkAlertController::create(std::weak_ptr<GtkUserInterface> ui,
                                                               std::optional<std::string> title,
                                                               std::optional<std::string> message) {
  std::shared_ptr<GtkAlertController> c(
      new GtkAlertController(std::move(ui), std::move(title), std::move(message)));
  GtkView::cast(*c->view())->setViewController(c);
  return c;
}

void GtkAlertController::willBePresented() {
  buildCard();
  if (auto ui = ui_.lock()) {
    ui->recordAlert(std::static_pointer_cast<GtkAlertController>(
        std::dynamic_pointer_cast<linux_port::AlertModel>(shared_from_this())));
  }
}

void GtkAlertController::buildCard() {
  if (!buttons_.empty() || actions().empty()) return;
  auto* v = GtkView::cast(*view());
  v->setBackgroundColor(0x00000066);
  GtkWidget* card = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
  gtk_widget_add_css_class(card, "background");
  gtk_widget_set_halign(card, GTK_ALIGN_CENTER);
  gtk_widget_set_valign(card, GTK_ALIGN_CENTER);
  gtk_widget_set_size_request(card, 270, -1);
  for (GtkWidget* side : {card}) {
    gtk_widget_set_margin_start(side, 16);
    gtk_widget_set_margin_end(side, 16);
  }
  if (title()) {
    GtkWidget* label = gtk_label_new(title()->c_str());
    gtk_widget_add_css_class(label, "title-4");
    gtk_widget_set_margin_top(label, 16);
    gtk_box_append(GTK_BOX(card), label);
  }
  if (message()) {
    GtkWidget* label = gtk_label_new(message()->c_str());
    gtk_label_set_wrap(GTK_LABEL(label), TRUE);
    gtk_box_append(GTK_BOX(card), label);
  }
  GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
  gtk_widget_set_halign(row, GTK_ALIGN_END);
  gtk_widget_set_margin_bottom(row, 16);
  const auto weak = new std::weak_ptr<ViewController>(weak_from_this());
  auto release = [](gpointer data, GClosure*) {
    delete static_cast<std::weak_ptr<ViewController>*>(data);
  };
  for (std::size_t i = 0; i < actions().size(); ++i) {
    GtkWidget* button = gtk_button_new_with_label(actions()[i].title.c_str());
    if (actions()[i].style == AlertActionStyle::destructive) {
      gtk_widget_add_css_class(button, "destructive-action");
    }
    g_object_set_data(G_OBJECT(button), "orvex-action", GSIZE_TO_POINTER(i));
    g_signal_connect_data(
        button, "clicked", G_CALLBACK(+[](GtkButton* b, gpointer data) {
          auto alert = std::dynamic_pointer_cast<linux_port::AlertModel>(
              static_cast<std::weak_ptr<ViewController>*>(data)->lock());
          if (alert)
            alert->choose(GPOINTER_TO_SIZE(g_object_get_data(G_OBJECT(b), "orvex-action")));
        }),
        new std::weak_ptr<ViewController>(*weak), release, GConnectFlags(0));
    gtk_box_append(GTK_BOX(row), button);
    buttons_.push_back(button);
  }
  gtk_box_append(GTK_BOX(card), row);
  // Escape and Enter, as a dialog answers them.
  GtkEventController* keys = gtk_event_controller_key_new();
  gtk_event_controller_set_propagation_phase(keys, GTK_PHASE_CAPTURE);
  g_signal_connect_data(keys, "key-pressed",
                        G_CALLBACK(+[](GtkEventControllerKey*, guint key, guint, GdkModifierType,
                                       gpointer data) -> gboolean {
                          auto alert = std::dynamic_pointer_cast<linux_port::AlertModel>(
                              static_cast<std::weak_ptr<ViewController>*>(data)->lock());
                          if (!alert) return FALSE;
                          const bool escape = key == GDK_KEY_Escape;
                          const bool enter = key == GDK_KEY_Return || key == GDK_KEY_KP_Enter;
                          if (!escape && !enter) return FALSE;
                          const auto wanted =
                              escape ? AlertActionStyle::cancel : AlertActionStyle::standard;
                          auto* self = static_cast<GtkAlertController*>(alert.get());
                          for (std::size_t i = 0; i < self->actions().size(); ++i) {
                            if (self->actions()[i].style == wanted)
                              return self->choose(i) ? TRUE : FALSE;
                          }
                          return FALSE;
                        }),
                        weak, release, GConnectFlags(0));
  gtk_widget_add_controller(v->widget(), keys);
  v->setContent(card);
}

void GtkAlertController::showPresentedView(Window& over, const Rect& frame) {
  linux_port::AlertModel::showPresentedView(over, frame);
  if (!buttons_.empty()) gtk_widget_grab_focus(buttons_.front());
}

// ---- windows ----

GtkWindowView::GtkWindowView(std::weak_ptr<GtkUserInterface> ui, GtkWindow* window, bool own)
    : ui_(std::move(ui)), weakWindow_(window), own_(own) {
  if (own) {
    ownedWindow_ = GObjectPtr<GtkWindow>::retain(window);
    gtk_window_set_child(window, widget());
    adopted_ = true;
  }
}

std::shared_ptr<GtkWindowView> GtkWindowView::make(std::weak_ptr<GtkUserInterface> ui,
                                                   GtkWindow* window, bool own) {
  std::shared_ptr<GtkWindowView> view(new GtkWindowView(std::move(ui), window, own));
  view->registerWidget(GTK_WIDGET(window));
  // Both kinds outlive the window's "destroy": the window's data or the user interface holds them.
  view->destroyed_ = connectSignal(
      window, "destroy",
      +[](GtkWidget*, gpointer self) { static_cast<GtkWindowView*>(self)->closed(); }, view.get());
  if (!own) {
    // The window's data owns a host window's view: it lives exactly as long as the window.
    auto* held = new std::shared_ptr<GtkWindowView>(view);
    g_object_set_data_full(G_OBJECT(window), kWindowKey, held, [](gpointer p) {
      delete static_cast<std::shared_ptr<GtkWindowView>*>(p);
    });
  }
  return view;
}

GtkWindowView::~GtkWindowView() {
  destroyed_.disconnect();
  root_.reset();
  if (own_) {
    if (auto* w = gtkWindow()) gtk_window_destroy(w);
  }
}

void GtkWindowView::closed() {
  closed_ = true;
  // The window is going; a holder of this view may outlive it, so nothing may touch it later.
  destroyed_.disconnect();
  // What the window presented ends with it, and content a full-screen screen had taken out goes
  // back in, so it goes with the window rather than waiting in the presenter.
  if (root_ && root_->presentedViewController()) root_->dismiss(false, {});
  if (auto ui = ui_.lock(); ui && own_) {
    ui->mainQueue()->post([weak = std::weak_ptr<GtkUserInterface>(ui)] {
      if (auto u = weak.lock()) u->forgetClosedWindows();
    });
  }
}

GtkWidget* GtkWindowView::container() const {
  const_cast<GtkWindowView*>(this)->adoptContent();
  return widget();
}

void GtkWindowView::adoptContent() {
  if (adopted_) return;
  GtkWindow* w = gtkWindow();
  if (!w) return;
  adopted_ = true;
  auto content = GObjectPtr<GtkWidget>::retain(gtk_window_get_child(w));
  gtk_window_set_child(w, nullptr);
  gtk_window_set_child(w, widget());
  if (!content) return;
  auto view = GtkView::forWidget(content.get());
  addSubview(view);
  view->setFillsSuperview(true);
}

std::vector<std::shared_ptr<View>> GtkWindowView::subviews() const {
  if (adopted_) return GtkView::subviews();
  GtkWindow* w = gtkWindow();
  auto content = w ? GtkView::forWidget(gtk_window_get_child(w)) : nullptr;
  if (!content) return {};
  return {content};
}

std::shared_ptr<Window> GtkWindowView::window() const {
  return std::dynamic_pointer_cast<Window>(std::const_pointer_cast<View>(View::shared_from_this()));
}

Rect GtkWindowView::frame() const {
  GtkWindow* w = gtkWindow();
  if (!w) return Rect();
  int width = gtk_widget_get_width(GTK_WIDGET(w));
  int height = gtk_widget_get_height(GTK_WIDGET(w));
  if (width <= 0 || height <= 0) gtk_window_get_default_size(w, &width, &height);
  return Rect(0, 0, std::max(width, 0), std::max(height, 0));
}

Rect GtkWindowView::bounds() const {
  return Rect(0, 0, frame().size.width, frame().size.height);
}

bool GtkWindowView::isHidden() const {
  GtkWindow* w = gtkWindow();
  return !w || !gtk_widget_get_visible(GTK_WIDGET(w));
}

void GtkWindowView::setHidden(bool hidden) {
  if (GtkWindow* w = gtkWindow()) gtk_widget_set_visible(GTK_WIDGET(w), !hidden);
}

void GtkWindowView::setRootViewController(std::shared_ptr<ViewController> controller) {
  if (fade_.isRunning()) {
    fade_.stop();
    if (fadeEnd_) std::exchange(fadeEnd_, nullptr)();
  }
  if (root_) root_->view()->removeFromSuperview();
  root_ = std::move(controller);
  if (!root_) return;
  auto v = root_->view();
  insertSubview(v, 0);
  v->setFillsSuperview(true);
}

bool GtkWindowView::isKeyWindow() const {
  auto ui = ui_.lock();
  return ui && gtkWindow() && ui->keyWindow().get() == this;
}

void GtkWindowView::makeKeyAndVisible() {
  if (GtkWindow* w = gtkWindow()) gtk_window_present(w);
}

InterfaceOrientation GtkWindowView::interfaceOrientation() const {
  const Rect f = frame();
  return f.size.width > f.size.height ? InterfaceOrientation::landscapeRight
                                      : InterfaceOrientation::portrait;
}

InterfaceStyle GtkWindowView::interfaceStyle() const {
  GtkWindow* w = gtkWindow();
  return themeInterfaceStyle(w ? gtk_widget_get_settings(GTK_WIDGET(w))
                               : gtk_settings_get_default());
}

void GtkWindowView::transitionToRootViewController(std::shared_ptr<ViewController> controller,
                                                   double seconds,
                                                   std::function<void()> completion) {
  auto ui = ui_.lock();
  if (!ui) return;
  // A fade still running ends now, its old root leaving.
  if (fade_.isRunning()) {
    fade_.stop();
    if (fadeEnd_) std::exchange(fadeEnd_, nullptr)();
  }
  auto old = std::exchange(root_, std::move(controller));
  std::shared_ptr<View> incoming = root_ && root_ != old ? root_->view() : nullptr;
  auto outgoing = old && old != root_ ? old->view() : nullptr;
  // Released once the fade is over; the completion follows on the main queue.
  fadeEnd_ = [this, old, outgoing, queue = ui->mainQueue(), completion = std::move(completion)] {
    if (outgoing && outgoing->superview().get() == static_cast<View*>(this)) {
      outgoing->removeFromSuperview();
    }
    if (completion) queue->post(completion);
  };
  if (incoming) {
    // Just above the old root, beneath anything presented over it.
    const auto children = subviews();
    const auto at = std::ranges::find(children, outgoing);
    insertSubview(incoming, at == children.end() ? 0 : (at - children.begin()) + 1);
    incoming->setFillsSuperview(true);
  }
  if (!incoming || !outgoing || seconds <= 0) {
    std::exchange(fadeEnd_, nullptr)();
    return;
  }
  const double alpha = incoming->alpha();
  incoming->setAlpha(0);
  fade_.start(seconds, [this, weak = std::weak_ptr<View>(incoming), alpha](double t) {
    if (auto view = weak.lock()) view->setAlpha(alpha * t);
    if (t >= 1 && fadeEnd_) std::exchange(fadeEnd_, nullptr)();
  });
}

// ---- the user interface ----

GtkUserInterface::GtkUserInterface(std::shared_ptr<TaskQueue> mainQueue, std::string appStoreHost,
                                   GtkUserInterfaceOptions options)
    : mainQueue_(std::move(mainQueue)),
      appStoreHost_(std::move(appStoreHost)),
      options_(options),
      webProcesses_(std::make_shared<WebProcessPool>(
          WebProcessPool::Options{.adPagesPerProcess = options.adPagesPerWebProcess,
                                  .acceleratedAdPages = options.acceleratedAdPages})) {}

std::shared_ptr<GtkUserInterface> GtkUserInterface::create(std::shared_ptr<TaskQueue> mainQueue,
                                                           std::string appStoreHost,
                                                           GtkUserInterfaceOptions options) {
  std::shared_ptr<GtkUserInterface> ui(
      new GtkUserInterface(std::move(mainQueue), std::move(appStoreHost), options));
  // Host windows met while walking up from a view become windows of the SDK's too.
  windowAdopter() = [weak = std::weak_ptr<GtkUserInterface>(ui)](GtkWindow* window) {
    auto u = weak.lock();
    return u ? std::static_pointer_cast<View>(u->track(window, false)) : nullptr;
  };
  return ui;
}

GtkUserInterface::~GtkUserInterface() {
  windowAdopter() = nullptr;
}

std::shared_ptr<GtkWindowView> GtkUserInterface::track(GtkWindow* window, bool own) {
  if (!own) {
    if (auto* held = static_cast<std::shared_ptr<GtkWindowView>*>(
            g_object_get_data(G_OBJECT(window), kWindowKey))) {
      return *held;
    }
  }
  auto view = GtkWindowView::make(weak_from_this(), window, own);
  if (!own) {
    // The host's content is the root controller's view.
    auto content = GtkView::forWidget(gtk_window_get_child(window));
    view->root_ = GtkViewController::create(weak_from_this(), ViewControllerKind::plain,
                                            content ? content : std::make_shared<GtkView>());
  }
  std::erase_if(windows_, [](const auto& w) { return w.expired(); });
  windows_.push_back(view);
  return view;
}

std::shared_ptr<GtkWindowView> GtkUserInterface::adoptWindow(GtkWindow* window) {
  if (!window) return nullptr;
  auto view = track(window, false);
  view->adoptContent();
  return view;
}

std::vector<std::shared_ptr<Window>> GtkUserInterface::windows() const {
  std::vector<std::shared_ptr<Window>> out;
  for (const auto& w : windows_) {
    if (auto v = w.lock(); v && v->gtkWindow() && !v->closed_) out.push_back(v);
  }
  return out;
}

std::shared_ptr<GtkWindowView> GtkUserInterface::keyWindow() const {
  std::shared_ptr<GtkWindowView> firstVisible;
  for (const auto& weak : windows_) {
    auto view = weak.lock();
    GtkWindow* w = view ? view->gtkWindow() : nullptr;
    if (!w) continue;
    if (gtk_window_is_active(w)) return view;
    if (!firstVisible && gtk_widget_get_visible(GTK_WIDGET(w))) firstVisible = view;
  }
  // Without a window manager (a kiosk, Xvfb) no window is ever active: the first visible one
  // is the key window, as on a platform where an application always has one.
  return firstVisible;
}

std::shared_ptr<Window> GtkUserInterface::firstSceneKeyWindow() const {
  if (auto key = keyWindow()) return key;
  auto all = windows();
  return all.empty() ? nullptr : all.front();
}

Rect GtkUserInterface::screenBounds() const {
  GdkDisplay* display = gdk_display_get_default();
  GListModel* monitors = display ? gdk_display_get_monitors(display) : nullptr;
  if (monitors && g_list_model_get_n_items(monitors) > 0) {
    auto* monitor = static_cast<GdkMonitor*>(g_list_model_get_item(monitors, 0));
    GdkRectangle r;
    gdk_monitor_get_geometry(monitor, &r);
    g_object_unref(monitor);
    return Rect(0, 0, r.width, r.height);
  }
  return Rect(0, 0, 1280, 800);
}

std::shared_ptr<View> GtkUserInterface::makeView() {
  return std::make_shared<GtkView>();
}

std::shared_ptr<ImageView> GtkUserInterface::makeImageView() {
  return std::make_shared<GtkImageView>();
}

std::shared_ptr<Label> GtkUserInterface::makeLabel() {
  return std::make_shared<GtkLabelView>();
}

std::shared_ptr<Button> GtkUserInterface::makeButton() {
  return std::make_shared<GtkButtonView>();
}

std::shared_ptr<ScrollView> GtkUserInterface::makeScrollView() {
  return std::make_shared<GtkScrollView>();
}

std::shared_ptr<WebView> GtkUserInterface::makeWebView(const WebViewConfiguration& configuration) {
  auto view = std::make_shared<GtkWebView>(mainQueue_, configuration, webProcesses_);
  std::erase_if(webViews_, [](const auto& w) { return w.expired(); });
  webViews_.push_back(view);
  return view;
}

std::vector<std::shared_ptr<WebView>> GtkUserInterface::webViews() const {
  std::vector<std::shared_ptr<WebView>> out;
  for (const auto& w : webViews_) {
    if (auto v = w.lock()) out.push_back(std::move(v));
  }
  return out;
}

std::shared_ptr<ViewController> GtkUserInterface::makeViewController(ViewControllerKind kind) {
  if (kind == ViewControllerKind::storeProduct) return makeStoreProductViewController();
  if (kind == ViewControllerKind::inAppBrowser) return makeInAppBrowser("");
  return GtkViewController::create(weak_from_this(), kind);
}

std::shared_ptr<StoreProductViewController> GtkUserInterface::makeStoreProductViewController() {
  return GtkStoreSheet::create(weak_from_this());
}

std::shared_ptr<InAppBrowserViewController> GtkUserInterface::makeInAppBrowser(
    const std::string& url) {
  return GtkInAppBrowser::create(weak_from_this(), url);
}

std::shared_ptr<Window> GtkUserInterface::makeWindow() {
  GtkWidget* gw = gtk_window_new();
  const Rect screen = screenBounds();
  gtk_window_set_default_size(GTK_WINDOW(gw), static_cast<int>(std::min(screen.size.width, 390.0)),
                              static_cast<int>(std::min(screen.size.height, 844.0)));
  auto view = track(GTK_WINDOW(gw), true);
  ownWindows_.push_back(view);
  return view;
}

std::shared_ptr<AlertController> GtkUserInterface::makeAlertController(
    std::optional<std::string> title, std::optional<std::string> message) {
  return GtkAlertController::create(weak_from_this(), std::move(title), std::move(message));
}

std::shared_ptr<ActivityIndicatorView> GtkUserInterface::makeActivityIndicator() {
  return std::make_shared<GtkActivityIndicator>();
}

void GtkUserInterface::forgetClosedWindows() {
  std::erase_if(ownWindows_, [](const auto& w) { return w->closed_; });
}

void GtkUserInterface::recordAlert(const std::shared_ptr<GtkAlertController>& alert) {
  std::erase_if(alerts_, [](const auto& w) { return w.expired(); });
  alerts_.push_back(alert);
}

std::shared_ptr<GtkAlertController> GtkUserInterface::visibleAlert() const {
  for (auto it = alerts_.rbegin(); it != alerts_.rend(); ++it) {
    if (auto alert = it->lock(); alert && alert->presentingViewController()) return alert;
  }
  return nullptr;
}

void GtkUserInterface::openExternalURL(const std::string& url) {
  if (!linux_port::maySystemOpen(url)) return;
  recordOpened({OpenedLink::Kind::external, url});
  if (options_.openExternalLinks) gtk_show_uri(nullptr, url.c_str(), GDK_CURRENT_TIME);
}

}  // namespace orvex::gtk
