#pragma once
// Views, view controllers and windows: the pieces of the host's screen the SDK places ads in and
// presents its own screens over. Everything here is main-thread only.
//
// Ownership follows the platform's: a view owns its subviews and holds its superview weakly; a
// controller owns its view, its children and what it presents, and holds its parent and its
// presenter weakly; the user interface service owns its windows. Frames are in the superview's
// coordinates; bounds are the view's own (their origin is the scroll offset of a scrolling view).

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "orvex/platform/device.h"
#include "orvex/platform/geometry.h"
#include "orvex/platform/image.h"

namespace orvex {

class ViewController;
class Window;

// The corners View::setCornerRadius rounds, as a mask.
enum Corner : unsigned {
  kTopLeftCorner = 1,
  kTopRightCorner = 2,
  kBottomLeftCorner = 4,
  kBottomRightCorner = 8,
};
inline constexpr unsigned kAllCorners = 15;

// What asks a hit test: a press (touch down, button press) or pointer motion, which a desktop
// asks about continually.
enum class HitTestEvent { press, motion };

// Input reaches a view, on every port alike, only while it is shown, user interaction is enabled
// and its alpha is above this; each of these keeps the event from its subviews too.
inline constexpr double kHitTestMinimumAlpha = 0.01;

// How a port's layout sizes a view on top of the frame it is given: a fixed width, a fixed height,
// a width:height ratio. Absent members leave that dimension to the frame.
struct SizeRules {
  std::optional<double> width;
  std::optional<double> height;
  // Without a fixed height, the height follows the width by this ratio (sides must be positive).
  std::optional<Size> aspectRatio;
  friend bool operator==(const SizeRules&, const SizeRules&) = default;
};

// The size `rules` make of `proposed`: the fixed width and height replace the proposal's; then,
// without a fixed height, the aspect ratio sets the height from the width. Ports share this.
inline Size applySizeRules(const SizeRules& rules, Size proposed) {
  Size out = proposed;
  if (rules.width) out.width = *rules.width;
  if (rules.height) {
    out.height = *rules.height;
  } else if (rules.aspectRatio && rules.aspectRatio->width > 0 && rules.aspectRatio->height > 0) {
    out.height = out.width * rules.aspectRatio->height / rules.aspectRatio->width;
  }
  return out;
}

// Whether `point` lies inside `bounds` with the corners named by `corners` (a mask of Corner)
// rounded by `radius` (at most half a side). Ports share this, so input is cut alike everywhere.
inline bool insideRoundedRect(const Rect& bounds, double radius, unsigned corners, Point point) {
  const double w = bounds.size.width, h = bounds.size.height;
  const double r = std::min({radius, w / 2, h / 2});
  if (!(r > 0)) return true;
  const double x = point.x - bounds.minX(), y = point.y - bounds.minY();
  struct Rounded {
    unsigned bit;
    bool in;
    double cx, cy;
  };
  const Rounded rounded[] = {{kTopLeftCorner, x < r && y < r, r, r},
                             {kTopRightCorner, x > w - r && y < r, w - r, r},
                             {kBottomLeftCorner, x < r && y > h - r, r, h - r},
                             {kBottomRightCorner, x > w - r && y > h - r, w - r, h - r}};
  for (const auto& c : rounded) {
    if ((corners & c.bit) && c.in && std::hypot(x - c.cx, y - c.cy) > r) return false;
  }
  return true;
}

class ORVEX_API View : public std::enable_shared_from_this<View> {
 public:
  virtual ~View() = default;

  // ---- hierarchy ----
  virtual std::shared_ptr<View> superview() const = 0;
  virtual std::vector<std::shared_ptr<View>> subviews() const = 0;
  // Adds on top of the existing subviews, first leaving any previous superview.
  virtual void addSubview(std::shared_ptr<View> view) = 0;
  virtual void insertSubview(std::shared_ptr<View> view, std::size_t index) = 0;
  virtual void removeFromSuperview() = 0;
  // The window at the top of this view's hierarchy, if it is in one.
  virtual std::shared_ptr<Window> window() const = 0;
  // The controller whose root view this is: the next responder after the view, before its
  // superview.
  virtual std::shared_ptr<ViewController> viewController() const = 0;

  // ---- geometry ----
  virtual Rect frame() const = 0;
  virtual void setFrame(const Rect& frame) = 0;
  virtual Rect bounds() const = 0;
  // Moves the visible part of the content (scrolling); the size follows the frame.
  virtual void setBoundsOrigin(Point origin) = 0;
  // The part of bounds not covered by bars or the screen's cut-outs, in this view's coordinates.
  virtual Rect safeAreaFrame() const = 0;
  // `rect` given in this view's coordinates, expressed in `other`'s. Views of different windows
  // convert through screen coordinates. A frame or scroll offset counts from the moment it is
  // set, before the port's next layout pass.
  virtual Rect convertRect(const Rect& rect, const View& other) const = 0;
  // When set, the frame follows the superview's bounds (flexible width and height, no margins).
  virtual void setFillsSuperview(bool fills) = 0;
  // Called after the bounds' size changed (the platform's layout pass).
  virtual void setLayoutHandler(std::function<void()> handler) = 0;

  // ---- appearance and input ----
  virtual bool isHidden() const = 0;
  virtual void setHidden(bool hidden) = 0;
  virtual double alpha() const = 0;
  virtual void setAlpha(double alpha) = 0;
  // Colours as 0xRRGGBBAA; 0 is clear.
  virtual void setBackgroundColor(std::uint32_t rgba) = 0;
  virtual bool isUserInteractionEnabled() const = 0;
  virtual void setUserInteractionEnabled(bool enabled) = 0;
  // The deepest view under `point` (this view's coordinates) that input reaches, or none: the
  // topmost subview first. A port's real input goes where this answers.
  virtual std::shared_ptr<View> hitTest(Point point, HitTestEvent event = HitTestEvent::press) = 0;
  // Consulted before this view answers a hit test, the SDK's own and the port's real input alike:
  // returning true lets the event through to whatever lies beneath (the view and its subviews
  // answer none; on a desktop the widget beneath, a host's too, gets the click). Real input asks
  // with `motion` as the pointer moves and with `press` once per press that reaches the view, so
  // only a press may use up a one-time switch. A desktop chooses where a press goes as the
  // pointer moves, so a rule answers a press as it answered the motion before it.
  virtual void setHitTestPassThrough(std::function<bool(HitTestEvent event)> passThrough) = 0;
  // Runs `handler` on each tap (a press and release in place; a double click is two) that hits
  // this view or one of its subviews without its own tap handler, alongside whatever the view
  // beneath does with it (a page's link, a host's button). Returns a token for removal.
  virtual int addTapHandler(std::function<void()> handler) = 0;
  virtual void removeTapHandler(int token) = 0;
  // A name for logs, demos and tests ("banner", "feed").
  virtual void setAccessibilityIdentifier(std::string identifier) = 0;
  virtual std::string accessibilityIdentifier() const = 0;

  // ---- size rules and located taps (ports that predate them get the defaults) ----
  // Rules the port's layout applies to this view's size from now on, and at once to its current
  // frame. The default port ignores them.
  virtual void setSizeRules(const SizeRules& /*rules*/) {}
  virtual SizeRules sizeRules() const { return {}; }
  // As addTapHandler, with the tap's location in this view's coordinates; removed with
  // removeTapHandler. A port that cannot tell where a tap landed reports the bounds' centre.
  virtual int addLocatedTapHandler(std::function<void(Point location)> handler) {
    std::weak_ptr<View> weak = weak_from_this();
    return addTapHandler([weak, handler = std::move(handler)] {
      auto view = weak.lock();
      if (!view || !handler) return;
      const Rect b = view->bounds();
      handler(Point{b.minX() + b.size.width / 2, b.minY() + b.size.height / 2});
    });
  }
  // ---- layer: offset, rounded corners, colour ----
  // Moves the drawn view (and where input finds it) by `offset` without changing its frame: a
  // translation transform. Animations move views with it.
  virtual void setTranslation(Point offset) = 0;
  virtual Point translation() const = 0;
  // Rounds the corners named by `corners` (a mask of Corner) by `radius` points.
  virtual void setCornerRadius(double radius, unsigned corners = kAllCorners) = 0;
  virtual double cornerRadius() const = 0;
  virtual unsigned roundedCorners() const = 0;
  // Clips the subviews' drawing, and input, to the bounds (their rounded shape included).
  virtual void setClipsToBounds(bool clips) = 0;
  virtual bool clipsToBounds() const = 0;
  virtual std::uint32_t backgroundColor() const = 0;
};

// Shows an image scaled to fill its bounds.
class ORVEX_API ImageView : public virtual View {
 public:
  virtual void setImage(std::optional<Image> image) = 0;
  virtual std::optional<Image> image() const = 0;
};

enum class TextAlignment { leading, center, trailing };

// A simple text label (popup and quest screens use them for buttons and titles).
class ORVEX_API Label : public virtual View {
 public:
  virtual void setText(std::string text) = 0;
  virtual std::string text() const = 0;
  virtual void setTextColor(std::uint32_t rgba) = 0;
  virtual std::uint32_t textColor() const = 0;
  // The system font at `points`, bold or regular.
  virtual void setFont(double points, bool bold) = 0;
  virtual void setTextAlignment(TextAlignment alignment) = 0;
};

// A button: a title and one action run on a tap released inside it (touch-up-inside). An empty
// title makes a plain tap area, as the SDK's screens use over labels of their own.
class ORVEX_API Button : public virtual View {
 public:
  virtual void setTitle(std::string title) = 0;
  virtual std::string title() const = 0;
  virtual void setTitleColor(std::uint32_t rgba) = 0;
  // Replaces the previous action; an empty function removes it.
  virtual void setAction(std::function<void()> action) = 0;
};

// The stages of a pan (drag) gesture.
enum class PanState { began, changed, ended, cancelled, failed };

class ScrollView;

// What a scroll view reports, on the main thread, as it moves.
class ORVEX_API ScrollViewDelegate {
 public:
  virtual ~ScrollViewDelegate() = default;
  // Every change of the content offset, by the user, an animation or the SDK.
  virtual void scrollViewDidScroll(ScrollView& /*scrollView*/) {}
  virtual void scrollViewWillBeginDragging(ScrollView& /*scrollView*/) {}
  // The user let go; `willDecelerate` when the content goes on moving (to a page boundary, when
  // paging) and scrollViewDidEndDecelerating follows.
  virtual void scrollViewDidEndDragging(ScrollView& /*scrollView*/, bool /*willDecelerate*/) {}
  virtual void scrollViewDidEndDecelerating(ScrollView& /*scrollView*/) {}
  // An animated setContentOffset reached its target.
  virtual void scrollViewDidEndScrollingAnimation(ScrollView& /*scrollView*/) {}
};

// A view whose subviews lie on a content plane larger than itself; the content offset is its
// bounds' origin. The user drags it horizontally and vertically within the content size; with
// paging, a released drag settles on a multiple of the view's size (the next or previous page
// in the direction of the drag, once it has moved far or fast enough).
class ORVEX_API ScrollView : public virtual View {
 public:
  // How long an animated offset change or a deceleration takes, on every port.
  static constexpr double kScrollAnimationSeconds = 0.3;

  virtual Size contentSize() const = 0;
  virtual void setContentSize(Size size) = 0;
  virtual Point contentOffset() const = 0;
  // Not animated: moves at once, with one scrollViewDidScroll (and stops an animation running).
  // Animated: moves over kScrollAnimationSeconds, reporting scrolls, then
  // scrollViewDidEndScrollingAnimation. The offset is not clamped to the content size.
  virtual void setContentOffset(Point offset, bool animated) = 0;
  virtual void setPagingEnabled(bool paging) = 0;
  virtual bool isPagingEnabled() const = 0;
  // Off: the user cannot drag it (the SDK still can move it).
  virtual void setScrollEnabled(bool enabled) = 0;
  virtual bool isScrollEnabled() const = 0;
  virtual bool isDragging() const = 0;
  virtual void setDelegate(std::weak_ptr<ScrollViewDelegate> delegate) = 0;
  // Runs `handler` at each stage of the user's drag on this view; a token for removal.
  virtual int addPanHandler(std::function<void(PanState state)> handler) = 0;
  virtual void removePanHandler(int token) = 0;
};

enum class ViewControllerKind {
  plain,
  navigation,    // visibleViewController is the one on top of its stack
  tabBar,        // selectedViewController is the chosen tab
  storeProduct,  // the platform's app-store product sheet
  inAppBrowser,  // the platform's in-app browser sheet
};

enum class InterfaceOrientation {
  unknown,
  portrait,
  portraitUpsideDown,
  landscapeLeft,
  landscapeRight
};

// How a presented controller covers its presenter.
enum class PresentationStyle { fullScreen, overFullScreen, pageSheet };

// The colour of the status bar's content (time, battery) while a screen is on top.
enum class StatusBarStyle { automatic, darkContent, lightContent };

// Optional appearance callbacks; the SDK's own screens implement them.
class ORVEX_API AppearanceObserver {
 public:
  virtual ~AppearanceObserver() = default;
  virtual void viewWillAppear(bool /*animated*/) {}
  virtual void viewDidAppear(bool /*animated*/) {}
  virtual void viewWillDisappear(bool /*animated*/) {}
  virtual void viewDidDisappear(bool /*animated*/) {}
};

class ORVEX_API ViewController : public std::enable_shared_from_this<ViewController> {
 public:
  virtual ~ViewController() = default;
  virtual ViewControllerKind kind() const = 0;
  // The root view, created with the controller.
  virtual std::shared_ptr<View> view() const = 0;

  virtual std::shared_ptr<ViewController> parentViewController() const = 0;
  virtual std::vector<std::shared_ptr<ViewController>> childViewControllers() const = 0;
  virtual void addChildViewController(std::shared_ptr<ViewController> child) = 0;
  virtual void removeFromParentViewController() = 0;
  // Navigation controllers: the top of the stack, or what it presents; others: none.
  virtual std::shared_ptr<ViewController> visibleViewController() const = 0;
  // Tab bar controllers: the chosen tab; others: none.
  virtual std::shared_ptr<ViewController> selectedViewController() const = 0;

  virtual std::shared_ptr<ViewController> presentedViewController() const = 0;
  virtual std::shared_ptr<ViewController> presentingViewController() const = 0;
  virtual void setPresentationStyle(PresentationStyle style) = 0;
  // Presents over this controller (nothing happens when it already presents one); `completion`
  // runs on the main queue once the presented view is on screen.
  virtual void present(std::shared_ptr<ViewController> controller, bool animated,
                       std::function<void()> completion) = 0;
  // Dismisses what this controller presents, or this controller when it is itself presented.
  virtual void dismiss(bool animated, std::function<void()> completion) = 0;

  virtual void setAppearanceObserver(std::weak_ptr<AppearanceObserver> observer) = 0;
  // Whether the controller's view is in a window now.
  virtual bool isViewVisible() const = 0;

  // The interface style this controller's views take whatever the system's (unspecified: the
  // system's), and the status bar's content while it is on top. A port applies what its screen
  // has and reports back what was asked either way.
  virtual void setOverrideInterfaceStyle(InterfaceStyle style) = 0;
  virtual InterfaceStyle overrideInterfaceStyle() const = 0;
  virtual void setStatusBarStyle(StatusBarStyle style) = 0;
  virtual StatusBarStyle statusBarStyle() const = 0;

  // Keeps `object` alive exactly as long as this controller: the SDK's screens keep their logic
  // with the controller the port made for them (and hold the controller weakly). Main thread.
  void keepAlive(std::shared_ptr<void> object) { keptAlive_.push_back(std::move(object)); }

  // What a full-screen screen allows while it is presented. A phone rotates its screen to one of
  // them; a desktop window does not rotate, so its port only keeps them. Main thread.
  void setSupportedInterfaceOrientations(std::vector<InterfaceOrientation> orientations) {
    supportedOrientations_ = std::move(orientations);
  }
  const std::vector<InterfaceOrientation>& supportedInterfaceOrientations() const {
    return supportedOrientations_;
  }
  void setShouldAutorotate(bool value) { shouldAutorotate_ = value; }
  bool shouldAutorotate() const { return shouldAutorotate_; }
  void setPrefersStatusBarHidden(bool value) { prefersStatusBarHidden_ = value; }
  bool prefersStatusBarHidden() const { return prefersStatusBarHidden_; }

 private:
  std::vector<std::shared_ptr<void>> keptAlive_;
  std::vector<InterfaceOrientation> supportedOrientations_ = {InterfaceOrientation::portrait,
                                                              InterfaceOrientation::landscapeLeft,
                                                              InterfaceOrientation::landscapeRight};
  bool shouldAutorotate_ = true;
  bool prefersStatusBarHidden_ = false;
};

// The platform's app-store sheet; loading a product may succeed or fail.
class ORVEX_API StoreProductViewController : public virtual ViewController {
 public:
  // `completion` runs on the main queue with success, or an error description.
  virtual void loadProduct(
      const std::string& itemIdentifier,
      std::function<void(bool loaded, std::optional<std::string> error)> completion) = 0;
};

// The platform's in-app browser sheet for one URL.
class ORVEX_API InAppBrowserViewController : public virtual ViewController {
 public:
  virtual std::string url() const = 0;
};

class ORVEX_API Window : public virtual View {
 public:
  virtual std::shared_ptr<ViewController> rootViewController() const = 0;
  virtual void setRootViewController(std::shared_ptr<ViewController> controller) = 0;
  virtual bool isKeyWindow() const = 0;
  virtual void makeKeyAndVisible() = 0;
  // The orientation of the window's scene; unknown when it has none.
  virtual InterfaceOrientation interfaceOrientation() const = 0;
  // The style the window's content is drawn in now (the system's, or the user's choice).
  virtual InterfaceStyle interfaceStyle() const = 0;
  // Swaps the root view controller with a cross-dissolve: the new root's view fades in over the
  // old one for `seconds`; `completion` runs on the main queue once it has ended.
  virtual void transitionToRootViewController(std::shared_ptr<ViewController> controller,
                                              double seconds, std::function<void()> completion) = 0;
};

class WebView;
struct WebViewConfiguration;
class AlertController;        // orvex/platform/alert.h
class ActivityIndicatorView;  // orvex/platform/activity_indicator.h

// The application's screen and the factory for everything above. Main thread only.
class ORVEX_API UserInterface {
 public:
  virtual ~UserInterface() = default;

  // The application's windows, scene by scene, in the platform's order.
  virtual std::vector<std::shared_ptr<Window>> windows() const = 0;
  // The first window of the first scene, when that scene is a window scene.
  virtual std::shared_ptr<Window> firstSceneKeyWindow() const = 0;
  // The main screen's bounds in points.
  virtual Rect screenBounds() const = 0;

  virtual std::shared_ptr<View> makeView() = 0;
  virtual std::shared_ptr<ImageView> makeImageView() = 0;
  virtual std::shared_ptr<Label> makeLabel() = 0;
  virtual std::shared_ptr<Button> makeButton() = 0;
  virtual std::shared_ptr<ScrollView> makeScrollView() = 0;
  virtual std::shared_ptr<WebView> makeWebView(const WebViewConfiguration& configuration) = 0;
  virtual std::shared_ptr<ViewController> makeViewController(
      ViewControllerKind kind = ViewControllerKind::plain) = 0;
  virtual std::shared_ptr<StoreProductViewController> makeStoreProductViewController() = 0;
  virtual std::shared_ptr<InAppBrowserViewController> makeInAppBrowser(const std::string& url) = 0;
  // A new window in the application's first scene, not yet key.
  virtual std::shared_ptr<Window> makeWindow() = 0;

  // Hands `url` to the system's handler for its scheme; the result is not reported.
  virtual void openExternalURL(const std::string& url) = 0;

  // ---- alerts and spinners (ports that predate them get the defaults) ----
  // An alert to present over a controller; none on a port without alerts.
  virtual std::shared_ptr<AlertController> makeAlertController(
      std::optional<std::string> /*title*/, std::optional<std::string> /*message*/) {
    return nullptr;
  }
  // A spinner, stopped and hidden; none on a port without one.
  virtual std::shared_ptr<ActivityIndicatorView> makeActivityIndicator() { return nullptr; }
};

}  // namespace orvex
