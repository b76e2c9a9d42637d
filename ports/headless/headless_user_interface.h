#pragma once
// The headless port's screen: windows, view controllers with presentation, the store and browser
// sheets and URL opening. Nothing is drawn; presentation moves views in the tree
// exactly as a platform would, so whatever measures the screen sees the same picture.
//
// Presentation follows linux_port::ViewControllerModel; the store and browser sheets are views
// over the window like any other presented controller, and what they open is recorded.
//
// Alerts are presented like any controller but always over the presenter's content, which stays
// in the window. The host or a test plays the user: choose() dismisses the alert (animated) and
// then runs the chosen action's handler on the main queue. Alerts presented are recorded (the
// newest linux_port::kRecordCapacity), and so are a screen's interface style and status-bar style
// (read back from the controller).

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "orvex/platform/alert.h"
#include "orvex/platform/dispatch.h"
#include "orvex/platform/view.h"
#include "ports/headless/headless_view.h"
#include "ports/linux/alert_model.h"
#include "ports/linux/opened_links.h"
#include "ports/linux/view_controller_model.h"

namespace orvex::headless {

class HeadlessUserInterface;

class ORVEX_API HeadlessViewController : public linux_port::ViewControllerModel {
 public:
  static std::shared_ptr<HeadlessViewController> create(
      std::weak_ptr<HeadlessUserInterface> ui, ViewControllerKind kind = ViewControllerKind::plain);

 protected:
  HeadlessViewController(std::weak_ptr<HeadlessUserInterface> ui, ViewControllerKind kind,
                         std::shared_ptr<HeadlessView> view);
  void willBePresented() override;
  std::weak_ptr<HeadlessUserInterface> ui_;

 private:
  friend void adoptView(const std::shared_ptr<HeadlessViewController>& controller);
  std::shared_ptr<HeadlessView> view_;
};

class ORVEX_API HeadlessStoreProductViewController : public HeadlessViewController,
                                                     public StoreProductViewController {
 public:
  static std::shared_ptr<HeadlessStoreProductViewController> create(
      std::weak_ptr<HeadlessUserInterface> ui);
  void loadProduct(
      const std::string& itemIdentifier,
      std::function<void(bool loaded, std::optional<std::string> error)> completion) override;
  const std::string& itemIdentifier() const { return itemIdentifier_; }

 private:
  using HeadlessViewController::HeadlessViewController;
  std::string itemIdentifier_;
};

class ORVEX_API HeadlessInAppBrowser : public HeadlessViewController,
                                       public InAppBrowserViewController {
 public:
  static std::shared_ptr<HeadlessInAppBrowser> create(std::weak_ptr<HeadlessUserInterface> ui,
                                                      std::string url);
  std::string url() const override { return url_; }

 private:
  using HeadlessViewController::HeadlessViewController;
  std::string url_;
};

class ORVEX_API HeadlessAlertController : public linux_port::AlertModel {
 public:
  static std::shared_ptr<HeadlessAlertController> create(std::weak_ptr<HeadlessUserInterface> ui,
                                                         std::optional<std::string> title,
                                                         std::optional<std::string> message);

 private:
  HeadlessAlertController(std::weak_ptr<HeadlessUserInterface> ui, std::optional<std::string> title,
                          std::optional<std::string> message);
  void willBePresented() override;
  std::weak_ptr<HeadlessUserInterface> ui_;
};

// An alert as it was presented.
struct AlertRecord {
  std::optional<std::string> title;
  std::optional<std::string> message;
  std::vector<std::string> actions;
};

class ORVEX_API HeadlessWindow : public HeadlessView, public Window {
 public:
  explicit HeadlessWindow(std::weak_ptr<HeadlessUserInterface> ui) : ui_(std::move(ui)) {}
  std::shared_ptr<ViewController> rootViewController() const override { return root_; }
  void setRootViewController(std::shared_ptr<ViewController> controller) override;
  bool isKeyWindow() const override;
  void makeKeyAndVisible() override;
  InterfaceOrientation interfaceOrientation() const override;
  InterfaceStyle interfaceStyle() const override;
  // The new root's view fades in above the old one, which leaves the window at the end.
  void transitionToRootViewController(std::shared_ptr<ViewController> controller, double seconds,
                                      std::function<void()> completion) override;

 private:
  void dropOutgoing();

  std::weak_ptr<HeadlessUserInterface> ui_;
  std::shared_ptr<ViewController> root_;
  // The old root's view while a cross-dissolve runs.
  std::shared_ptr<View> outgoing_;
  unsigned transition_ = 0;
};

using linux_port::OpenedLink;

struct HeadlessUserInterfaceOptions {
  Rect screenBounds{0, 0, 390, 844};
  InterfaceStyle interfaceStyle = InterfaceStyle::light;
  InterfaceOrientation orientation = InterfaceOrientation::portrait;
};

class ORVEX_API HeadlessUserInterface : public UserInterface,
                                        public std::enable_shared_from_this<HeadlessUserInterface> {
 public:
  using WebViewFactory =
      std::function<std::shared_ptr<WebView>(const WebViewConfiguration& configuration)>;

  static std::shared_ptr<HeadlessUserInterface> create(std::shared_ptr<TaskQueue> mainQueue,
                                                       HeadlessUserInterfaceOptions options = {});

  // ---- UserInterface ----
  std::vector<std::shared_ptr<Window>> windows() const override;
  std::shared_ptr<Window> firstSceneKeyWindow() const override;
  Rect screenBounds() const override { return options_.screenBounds; }
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

  // ---- what the host plays ----
  // A window with a plain root controller, made key: the usual start of a host or a test.
  std::shared_ptr<HeadlessWindow> makeKeyWindowWithRootController();
  void removeWindow(const std::shared_ptr<Window>& window);
  void setOrientation(InterfaceOrientation orientation) { options_.orientation = orientation; }
  InterfaceOrientation orientation() const { return options_.orientation; }
  void setInterfaceStyle(InterfaceStyle style) { options_.interfaceStyle = style; }
  InterfaceStyle interfaceStyle() const { return options_.interfaceStyle; }
  // How the next store product loads end: loaded, or an error description.
  void setStoreProductOutcome(bool loaded, std::optional<std::string> error = std::nullopt);
  void setWebViewFactory(WebViewFactory factory) { webViewFactory_ = std::move(factory); }
  const std::vector<OpenedLink>& openedLinks() const { return opened_.all(); }
  // Told of every link as it opens (the demo prints them).
  void setOpenObserver(std::function<void(const OpenedLink&)> observer) {
    opened_.setObserver(std::move(observer));
  }
  const std::vector<AlertRecord>& alertsShown() const { return alertsShown_.all(); }
  // The newest alert still presented, if any.
  std::shared_ptr<HeadlessAlertController> visibleAlert() const;

  // For the port's own pieces.
  const std::shared_ptr<TaskQueue>& mainQueue() const { return mainQueue_; }
  void makeKey(const Window* window);
  bool isKey(const Window* window) const { return window == keyWindow_; }
  void recordOpened(OpenedLink link) { opened_.record(std::move(link)); }
  void recordAlert(const std::shared_ptr<HeadlessAlertController>& alert);
  std::pair<bool, std::optional<std::string>> storeProductOutcome() const { return storeOutcome_; }

 private:
  HeadlessUserInterface(std::shared_ptr<TaskQueue> mainQueue, HeadlessUserInterfaceOptions options)
      : mainQueue_(std::move(mainQueue)), options_(options) {}

  std::shared_ptr<TaskQueue> mainQueue_;
  HeadlessUserInterfaceOptions options_;
  std::vector<std::shared_ptr<HeadlessWindow>> windows_;
  const Window* keyWindow_ = nullptr;
  std::pair<bool, std::optional<std::string>> storeOutcome_{true, std::nullopt};
  WebViewFactory webViewFactory_;
  linux_port::OpenedLinks opened_;
  linux_port::BoundedRecord<AlertRecord> alertsShown_;
  std::vector<std::weak_ptr<HeadlessAlertController>> alerts_;
};

}  // namespace orvex::headless
