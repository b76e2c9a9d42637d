#pragma once
// The desktop port's screen: windows (the SDK's own, and a host's GtkWindows, adopted when the
// host hands them over or when the SDK first meets them), view controllers presenting over a
// window's content, the in-app browser and the store sheet as a browser window of their own,
// and opening URLs with the system's handler.
//
// Adopting a host's window puts its content inside one of the SDK's containers, where the
// SDK's full-screen screens go on top of it; the content's widgets stay what they were.

#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "orvex/platform/dispatch.h"
#include "orvex/platform/view.h"
#include "orvex/platform/web_view.h"
#include "ports/gtk/gobject_ptr.h"
#include "ports/gtk/gtk_view.h"
#include "ports/linux/alert_model.h"
#include "ports/linux/opened_links.h"
#include "ports/linux/view_controller_model.h"

namespace orvex::gtk {

class GtkUserInterface;
class WebProcessPool;

// A screen's interface style and status-bar style are recorded and change nothing on the desktop:
// GTK 4.8 has no colour scheme per widget (the theme decides for the whole application, which is
// the host's to choose), and a desktop window has no status bar.
class GtkViewController : public linux_port::ViewControllerModel {
 public:
  static std::shared_ptr<GtkViewController> create(
      std::weak_ptr<GtkUserInterface> ui, ViewControllerKind kind = ViewControllerKind::plain,
      std::shared_ptr<View> view = nullptr);

 protected:
  GtkViewController(std::weak_ptr<GtkUserInterface> ui, ViewControllerKind kind,
                    std::shared_ptr<View> view);
  static void bindView(const std::shared_ptr<GtkViewController>& controller);
  std::weak_ptr<GtkUserInterface> ui_;
};

// A browser window of its own over one page: the in-app browser, and the store sheet on the
// store's product page. Presenting it opens the window (transient for the presenter's); closing
// the window dismisses it.
class GtkWindowView;

class GtkBrowserSheet : public GtkViewController {
 public:
  ~GtkBrowserSheet() override;
  std::string pageURL() const { return url_; }
  // The browser's window while presented, and its page (a WebKitWebView).
  GtkWindow* browserWindow() const;
  GtkWidget* page() const { return page_; }
  // What a user followed out of the page: an http(s) page loads here, anything else goes to the
  // system (which refuses what it must). Posted to the main queue.
  void follow(const std::string& url);

 protected:
  GtkBrowserSheet(std::weak_ptr<GtkUserInterface> ui, ViewControllerKind kind);
  void showPresentedView(Window& over, const Rect& frame) override;
  void hidePresentedView() override;
  void willBePresented() override;
  std::string url_;

 private:
  // The browser's page: a network session of its own, and a page that opens no window, starts
  // no download and launches no handler by itself.
  GtkWidget* makePage();

  std::shared_ptr<GtkWindowView> window_;
  GtkWidget* page_ = nullptr;    // the WebKitWebView, owned by the view's container
  GObjectPtr<GObject> session_;  // its WebKitNetworkSession
  SignalConnection closeRequest_;
  std::vector<SignalConnection> pageSignals_;
};

class GtkInAppBrowser : public GtkBrowserSheet, public InAppBrowserViewController {
 public:
  static std::shared_ptr<GtkInAppBrowser> create(std::weak_ptr<GtkUserInterface> ui,
                                                 std::string url);
  std::string url() const override { return url_; }

 private:
  using GtkBrowserSheet::GtkBrowserSheet;
};

class GtkStoreSheet : public GtkBrowserSheet, public StoreProductViewController {
 public:
  static std::shared_ptr<GtkStoreSheet> create(std::weak_ptr<GtkUserInterface> ui);
  // Always loads: the product page is a web page on the store's host.
  void loadProduct(
      const std::string& itemIdentifier,
      std::function<void(bool loaded, std::optional<std::string> error)> completion) override;
  const std::string& itemIdentifier() const { return itemIdentifier_; }

 private:
  using GtkBrowserSheet::GtkBrowserSheet;
  std::string itemIdentifier_;
};

// An alert drawn over the presenter's window: a dimmed layer with a card holding the title, the
// message and a button per action. Escape picks the cancel action (if any), Enter the first
// standard one.
class GtkAlertController : public linux_port::AlertModel {
 public:
  static std::shared_ptr<GtkAlertController> create(std::weak_ptr<GtkUserInterface> ui,
                                                    std::optional<std::string> title,
                                                    std::optional<std::string> message);
  // The card's buttons, in the order of the actions (tests press them).
  const std::vector<GtkWidget*>& buttons() const { return buttons_; }

 private:
  GtkAlertController(std::weak_ptr<GtkUserInterface> ui, std::optional<std::string> title,
                     std::optional<std::string> message);
  void willBePresented() override;
  void showPresentedView(Window& over, const Rect& frame) override;
  void buildCard();
  std::weak_ptr<GtkUserInterface> ui_;
  std::vector<GtkWidget*> buttons_;  // owned by the card
};

class GtkWindowView : public GtkView, public Window {
 public:
  ~GtkWindowView() override;
  // None once the GTK window is gone.
  GtkWindow* gtkWindow() const { return weakWindow_.lock().get(); }

  // ---- View (a window is the top of its tree) ----
  std::shared_ptr<View> superview() const override { return nullptr; }
  std::vector<std::shared_ptr<View>> subviews() const override;
  std::shared_ptr<Window> window() const override;
  Rect frame() const override;
  Rect bounds() const override;
  bool isHidden() const override;
  void setHidden(bool hidden) override;

  // ---- Window ----
  std::shared_ptr<ViewController> rootViewController() const override { return root_; }
  void setRootViewController(std::shared_ptr<ViewController> controller) override;
  bool isKeyWindow() const override;
  void makeKeyAndVisible() override;
  InterfaceOrientation interfaceOrientation() const override;
  // The theme's, read when asked: the application's dark-theme preference or a dark theme.
  InterfaceStyle interfaceStyle() const override;
  // The new root's view fades in above the old root's (beneath anything presented); the old one
  // leaves the window when the fade ends, or at once for a duration of 0.
  void transitionToRootViewController(std::shared_ptr<ViewController> controller, double seconds,
                                      std::function<void()> completion) override;

 private:
  friend class GtkUserInterface;
  friend class GtkBrowserSheet;
  // A window of the SDK's own (owned, its content the container from the start) or a host's
  // (held weakly: the window's data owns this view).
  static std::shared_ptr<GtkWindowView> make(std::weak_ptr<GtkUserInterface> ui, GtkWindow* window,
                                             bool own);
  GtkWindowView(std::weak_ptr<GtkUserInterface> ui, GtkWindow* window, bool own);
  // Puts the SDK's container between the window and its content (once).
  void adoptContent();
  GtkWidget* container() const override;
  // The GTK window is being destroyed (closed).
  void closed();

  std::weak_ptr<GtkUserInterface> ui_;
  GWeak<GtkWindow> weakWindow_;
  GObjectPtr<GtkWindow> ownedWindow_;
  const bool own_;
  bool adopted_ = false;
  bool closed_ = false;
  std::shared_ptr<ViewController> root_;
  Tween fade_;                     // the cross-dissolve running
  std::function<void()> fadeEnd_;  // lets the old root go and posts the completion
  SignalConnection destroyed_;
};

struct GtkUserInterfaceOptions {
  // Hand external links to the desktop's handler; off, they are only reported (tests, kiosks).
  bool openExternalLinks = true;
  // How ad pages share WebKit's web processes (ports/gtk/gtk_web_view.h).
  std::size_t adPagesPerWebProcess = 8;
  bool acceleratedAdPages = false;
};

using linux_port::OpenedLink;

class GtkUserInterface : public UserInterface,
                         public std::enable_shared_from_this<GtkUserInterface> {
 public:
  static std::shared_ptr<GtkUserInterface> create(std::shared_ptr<TaskQueue> mainQueue,
                                                  std::string appStoreHost,
                                                  GtkUserInterfaceOptions options = {});
  ~GtkUserInterface() override;

  // ---- UserInterface ----
  std::vector<std::shared_ptr<Window>> windows() const override;
  std::shared_ptr<Window> firstSceneKeyWindow() const override;
  Rect screenBounds() const override;
  std::shared_ptr<View> makeView() override;
  std::shared_ptr<ImageView> makeImageView() override;
  std::shared_ptr<Label> makeLabel() override;
  std::shared_ptr<Button> makeButton() override;
  std::shared_ptr<ScrollView> makeScrollView() override;
  std::shared_ptr<WebView> makeWebView(const WebViewConfiguration& configuration) override;
  std::shared_ptr<ViewController> makeViewController(ViewControllerKind kind) override;
  std::shared_ptr<StoreProductViewController> makeStoreProductViewController() override;
  std::shared_ptr<InAppBrowserViewController> makeInAppBrowser(const std::string& url) override;
  std::shared_ptr<Window> makeWindow() override;
  void openExternalURL(const std::string& url) override;
  std::shared_ptr<AlertController> makeAlertController(std::optional<std::string> title,
                                                       std::optional<std::string> message) override;
  std::shared_ptr<ActivityIndicatorView> makeActivityIndicator() override;

  // ---- for hosts ----
  // The Window for a host's GtkWindow: adopted once, with a root controller over its content.
  std::shared_ptr<GtkWindowView> adoptWindow(GtkWindow* window);
  void setOpenObserver(std::function<void(const OpenedLink&)> observer) {
    opened_.setObserver(std::move(observer));
  }
  const std::vector<OpenedLink>& openedLinks() const { return opened_.all(); }
  // The web views the SDK made that are still alive, oldest first.
  std::vector<std::shared_ptr<WebView>> webViews() const;
  // The processes those web views share.
  const std::shared_ptr<WebProcessPool>& webProcesses() const { return webProcesses_; }
  // The active window; where none is, the first visible one.
  std::shared_ptr<GtkWindowView> keyWindow() const;
  // The newest alert still presented, if any.
  std::shared_ptr<GtkAlertController> visibleAlert() const;

  // ---- for the port's own pieces ----
  const std::shared_ptr<TaskQueue>& mainQueue() const { return mainQueue_; }
  const std::string& appStoreHost() const { return appStoreHost_; }
  void recordOpened(OpenedLink link) { opened_.record(std::move(link)); }
  void recordAlert(const std::shared_ptr<GtkAlertController>& alert);
  // Lets go of the SDK's own windows that were closed.
  void forgetClosedWindows();

 private:
  GtkUserInterface(std::shared_ptr<TaskQueue> mainQueue, std::string appStoreHost,
                   GtkUserInterfaceOptions options);
  std::shared_ptr<GtkWindowView> track(GtkWindow* window, bool own);

  std::shared_ptr<TaskQueue> mainQueue_;
  std::string appStoreHost_;
  GtkUserInterfaceOptions options_;
  std::vector<std::weak_ptr<GtkWindowView>> windows_;
  std::vector<std::shared_ptr<GtkWindowView>> ownWindows_;  // until closed
  linux_port::OpenedLinks opened_;
  std::vector<std::weak_ptr<WebView>> webViews_;
  std::shared_ptr<WebProcessPool> webProcesses_;
  std::vector<std::weak_ptr<GtkAlertController>> alerts_;
};

}  // namespace orvex::gtk
