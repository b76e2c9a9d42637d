#pragma once
// The headless port's screen: windows, view controllers with presentation, the store and browser
// sheets, image decoding and URL opening. Nothing is drawn; presentation moves views in the tree
// exactly as a platform would, so whatever measures the screen sees the same picture.
//
// Presentation: present() hands the presented controller to the outermost controller of the
// presenter (the window's presentation context); its view goes on top of the window. A
// full-screen presentation takes the covered content out of the window once the transition ends
// and puts it back when dismissal begins. Transitions end on the next main-queue turn, or after
// 0.3 s when animated; appearance callbacks follow the platform's order.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "orvex/platform/dispatch.h"
#include "orvex/platform/view.h"
#include "ports/headless/headless_view.h"

namespace orvex::headless {

class HeadlessUserInterface;

class ORVEX_API HeadlessViewController : public virtual ViewController {
 public:
  static std::shared_ptr<HeadlessViewController> create(
      std::weak_ptr<HeadlessUserInterface> ui, ViewControllerKind kind = ViewControllerKind::plain);
  ~HeadlessViewController() override;

  // ---- ViewController ----
  ViewControllerKind kind() const override { return kind_; }
  std::shared_ptr<View> view() const override { return view_; }
  std::shared_ptr<ViewController> parentViewController() const override { return parent_.lock(); }
  std::vector<std::shared_ptr<ViewController>> childViewControllers() const override {
    return children_;
  }
  // For a navigation controller this pushes; for a tab bar controller it adds a tab.
  void addChildViewController(std::shared_ptr<ViewController> child) override;
  void removeFromParentViewController() override;
  std::shared_ptr<ViewController> visibleViewController() const override;
  std::shared_ptr<ViewController> selectedViewController() const override;
  std::shared_ptr<ViewController> presentedViewController() const override;
  std::shared_ptr<ViewController> presentingViewController() const override {
    return presenting_.lock();
  }
  void setPresentationStyle(PresentationStyle style) override { style_ = style; }
  void present(std::shared_ptr<ViewController> controller, bool animated,
               std::function<void()> completion) override;
  void dismiss(bool animated, std::function<void()> completion) override;
  void setAppearanceObserver(std::weak_ptr<AppearanceObserver> observer) override {
    observer_ = std::move(observer);
  }
  bool isViewVisible() const override { return view_->window() != nullptr; }

  // ---- what the host plays ----
  PresentationStyle presentationStyle() const { return style_; }
  // Tab bar controllers: chooses the tab shown.
  void selectTab(std::size_t index);

 protected:
  HeadlessViewController(std::weak_ptr<HeadlessUserInterface> ui, ViewControllerKind kind,
                         std::shared_ptr<HeadlessView> view);
  std::weak_ptr<HeadlessUserInterface> ui_;

 private:
  friend void adoptView(const std::shared_ptr<HeadlessViewController>& controller);
  std::shared_ptr<HeadlessViewController> presentationContext();
  void dismissPresented(bool animated, std::function<void()> completion);
  void showChild(const std::shared_ptr<ViewController>& child);
  void notify(void (AppearanceObserver::*event)(bool), bool animated) const;
  void finishTransition(bool animated, std::function<void()> step);

  const ViewControllerKind kind_;
  std::shared_ptr<HeadlessView> view_;
  std::weak_ptr<ViewController> parent_;
  std::vector<std::shared_ptr<ViewController>> children_;
  std::size_t selectedTab_ = 0;
  std::shared_ptr<ViewController> presented_;
  std::weak_ptr<ViewController> presenting_;
  // Content taken out of the window by a full-screen presentation, to be put back.
  std::vector<std::shared_ptr<View>> covered_;
  PresentationStyle style_ = PresentationStyle::pageSheet;
  std::weak_ptr<AppearanceObserver> observer_;
  bool transitioning_ = false;
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

class ORVEX_API HeadlessWindow : public HeadlessView, public Window {
 public:
  explicit HeadlessWindow(std::weak_ptr<HeadlessUserInterface> ui) : ui_(std::move(ui)) {}
  std::shared_ptr<ViewController> rootViewController() const override { return root_; }
  void setRootViewController(std::shared_ptr<ViewController> controller) override;
  bool isKeyWindow() const override;
  void makeKeyAndVisible() override;
  InterfaceOrientation interfaceOrientation() const override;
  InterfaceStyle interfaceStyle() const override;

 private:
  std::weak_ptr<HeadlessUserInterface> ui_;
  std::shared_ptr<ViewController> root_;
};

// What the SDK asked the screen to open, in order.
struct OpenedLink {
  enum class Kind { external, inAppBrowser, storeProduct } kind;
  std::string target;  // the URL, or the store product's identifier
};

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
  std::shared_ptr<WebView> makeWebView(const WebViewConfiguration& configuration) override;
  std::shared_ptr<ViewController> makeViewController(ViewControllerKind kind) override;
  std::shared_ptr<StoreProductViewController> makeStoreProductViewController() override;
  std::shared_ptr<InAppBrowserViewController> makeInAppBrowser(const std::string& url) override;
  std::shared_ptr<Window> makeWindow() override;
  void openExternalURL(const std::string& url) override;

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
  const std::vector<OpenedLink>& openedLinks() const { return opened_; }
  // Told of every link as it opens (the demo prints them).
  void setOpenObserver(std::function<void(const OpenedLink&)> observer) {
    openObserver_ = std::move(observer);
  }

  // For the port's own pieces.
  const std::shared_ptr<TaskQueue>& mainQueue() const { return mainQueue_; }
  void makeKey(const Window* window);
  bool isKey(const Window* window) const { return window == keyWindow_; }
  void recordOpened(OpenedLink link);
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
  std::vector<OpenedLink> opened_;
  std::function<void(const OpenedLink&)> openObserver_;
};

}  // namespace orvex::headless
