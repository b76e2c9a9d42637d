#pragma once
// The headless port's views: an in-memory tree with real geometry and no drawing. A host or a test
// builds windows from them, places ad views, scrolls, hides and taps, and everything that measures
// views (the visibility trackers, hit testing) sees real rectangles. Main thread only.
//
// Safe areas: each view's safe-area frame is its bounds inset by the insets the host gives it
// (setSafeAreaInsets); they do not propagate from ancestors. A window's insets stand for the
// screen's bars and cut-outs.
//
// Size rules (View::setSizeRules) are applied to every frame the view takes, with
// applySizeRules, keeping the origin: a frame the host or the SDK sets, the superview's bounds
// that a filling view follows (when it is added, when it starts filling and whenever the
// superview's size changes), and the current frame at once when the rules are set. Nothing else
// moves a view: a superview does not grow to fit what its subviews' rules make of them.
//
// A translation moves where a view is found: hit testing, taps and conversions include it. Input
// never reaches a point outside a view's bounds, its subviews included (as on a phone); clipping
// adds the rounded corners: a point they cut off reaches neither the view nor its subviews.
//
// Animations (a scroll view's, a window's cross-dissolve) step at 60 frames per second on the
// main queue, in the port's time, the last frame on the end exactly.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "orvex/platform/activity_indicator.h"
#include "orvex/platform/dispatch.h"
#include "orvex/platform/view.h"

namespace orvex::headless {

struct EdgeInsets {
  double top = 0;
  double left = 0;
  double bottom = 0;
  double right = 0;
};

class ORVEX_API HeadlessView : public virtual View {
 public:
  HeadlessView() = default;
  HeadlessView(const HeadlessView&) = delete;
  HeadlessView& operator=(const HeadlessView&) = delete;
  ~HeadlessView() override;

  // ---- View ----
  std::shared_ptr<View> superview() const override { return superview_.lock(); }
  std::vector<std::shared_ptr<View>> subviews() const override;
  void addSubview(std::shared_ptr<View> view) override;
  void insertSubview(std::shared_ptr<View> view, std::size_t index) override;
  void removeFromSuperview() override;
  std::shared_ptr<Window> window() const override;
  std::shared_ptr<ViewController> viewController() const override { return controller_.lock(); }

  Rect frame() const override { return frame_; }
  void setFrame(const Rect& frame) override;
  Rect bounds() const override {
    return Rect(boundsOrigin_.x, boundsOrigin_.y, frame_.size.width, frame_.size.height);
  }
  void setBoundsOrigin(Point origin) override { boundsOrigin_ = origin; }
  Rect safeAreaFrame() const override;
  Rect convertRect(const Rect& rect, const View& other) const override;
  void setFillsSuperview(bool fills) override;
  void setLayoutHandler(std::function<void()> handler) override {
    layoutHandler_ = std::move(handler);
  }

  bool isHidden() const override { return hidden_; }
  void setHidden(bool hidden) override { hidden_ = hidden; }
  double alpha() const override { return alpha_; }
  void setAlpha(double alpha) override { alpha_ = alpha; }
  void setBackgroundColor(std::uint32_t rgba) override { backgroundColor_ = rgba; }
  bool isUserInteractionEnabled() const override { return userInteraction_; }
  void setUserInteractionEnabled(bool enabled) override { userInteraction_ = enabled; }
  std::shared_ptr<View> hitTest(Point point, HitTestEvent event = HitTestEvent::press) override;
  void setHitTestPassThrough(std::function<bool(HitTestEvent)> passThrough) override {
    passThrough_ = std::move(passThrough);
  }
  int addTapHandler(std::function<void()> handler) override;
  void removeTapHandler(int token) override;
  void setAccessibilityIdentifier(std::string identifier) override {
    identifier_ = std::move(identifier);
  }
  std::string accessibilityIdentifier() const override { return identifier_; }
  void setSizeRules(const SizeRules& rules) override;
  SizeRules sizeRules() const override { return sizeRules_; }
  int addLocatedTapHandler(std::function<void(Point location)> handler) override;
  void setTranslation(Point offset) override { translation_ = offset; }
  Point translation() const override { return translation_; }
  void setCornerRadius(double radius, unsigned corners = kAllCorners) override {
    cornerRadius_ = std::max(0.0, radius);
    roundedCorners_ = corners & kAllCorners;
  }
  double cornerRadius() const override { return cornerRadius_; }
  unsigned roundedCorners() const override { return roundedCorners_; }
  void setClipsToBounds(bool clips) override { clipsToBounds_ = clips; }
  bool clipsToBounds() const override { return clipsToBounds_; }
  std::uint32_t backgroundColor() const override { return backgroundColor_; }

  // ---- what the host plays ----
  void setSafeAreaInsets(EdgeInsets insets) { safeAreaInsets_ = insets; }
  // A tap at `point` (this view's coordinates): the hit view, or the nearest ancestor of it with
  // tap handlers, runs them (located ones get the point in that view's coordinates). Returns
  // whether any handler ran.
  bool tap(Point point);
  // A drag by the user from `from` to `to` (this view's coordinates): the nearest scroll view
  // under `from` (the hit view or an ancestor) with scrolling enabled follows it: a pan that
  // begins, changes in `steps` even steps and ends with the velocity of covering the distance in
  // `seconds`. Time does not pass during it. Returns whether a scroll view took it.
  bool drag(Point from, Point to, double seconds = 0.25, int steps = 5);
  // The first view in this subtree (this one included) with the identifier.
  std::shared_ptr<View> findView(const std::string& identifier);
  // Origin of this view's bounds in screen coordinates.
  Point screenOrigin() const;

  // The controller whose root view this is (set by the controller).
  void setViewController(std::weak_ptr<ViewController> controller) {
    controller_ = std::move(controller);
  }

 protected:
  // Runs this view's part of a tap that reached it; false passes it on to the superview.
  virtual bool runTapHandlers(Point location);

 private:
  void attach(std::shared_ptr<View> view, std::size_t index);
  void detachChild(const View* child);
  void layoutFillingSubviews();
  // Whether `point` (this view's coordinates) lies inside the rounded corners.
  bool insideRoundedShape(Point point) const;
  // Where this view's coordinates start in its superview's.
  Point originInSuperview() const {
    return {frame_.origin.x + translation_.x - boundsOrigin_.x,
            frame_.origin.y + translation_.y - boundsOrigin_.y};
  }

  std::weak_ptr<View> superview_;
  std::vector<std::shared_ptr<View>> subviews_;
  std::weak_ptr<ViewController> controller_;
  Rect frame_;
  Point boundsOrigin_;
  EdgeInsets safeAreaInsets_;
  bool fillsSuperview_ = false;
  std::function<void()> layoutHandler_;
  bool hidden_ = false;
  double alpha_ = 1.0;
  std::uint32_t backgroundColor_ = 0;
  bool userInteraction_ = true;
  std::function<bool(HitTestEvent)> passThrough_;
  std::vector<std::pair<int, std::function<void(Point)>>> tapHandlers_;
  int nextTapToken_ = 1;
  std::string identifier_;
  SizeRules sizeRules_;
  Point translation_;
  double cornerRadius_ = 0;
  unsigned roundedCorners_ = kAllCorners;
  bool clipsToBounds_ = false;
};

class ORVEX_API HeadlessImageView : public HeadlessView, public ImageView {
 public:
  void setImage(std::optional<Image> image) override { image_ = std::move(image); }
  std::optional<Image> image() const override { return image_; }

 private:
  std::optional<Image> image_;
};

class ORVEX_API HeadlessLabel : public HeadlessView, public Label {
 public:
  void setText(std::string text) override { text_ = std::move(text); }
  std::string text() const override { return text_; }
  void setTextColor(std::uint32_t rgba) override { textColor_ = rgba; }
  std::uint32_t textColor() const override { return textColor_; }
  void setFont(double points, bool bold) override {
    fontSize_ = points;
    bold_ = bold;
  }
  void setTextAlignment(TextAlignment alignment) override { alignment_ = alignment; }
  double fontSize() const { return fontSize_; }
  bool isBold() const { return bold_; }
  TextAlignment textAlignment() const { return alignment_; }

 private:
  std::string text_;
  std::uint32_t textColor_ = 0x000000ff;
  double fontSize_ = 17;
  bool bold_ = false;
  TextAlignment alignment_ = TextAlignment::leading;
};

// Takes every tap that reaches it (its subviews' too): its own tap handlers run, then the action.
class ORVEX_API HeadlessButton : public HeadlessView, public Button {
 public:
  void setTitle(std::string title) override { title_ = std::move(title); }
  std::string title() const override { return title_; }
  void setTitleColor(std::uint32_t rgba) override { titleColor_ = rgba; }
  std::uint32_t titleColor() const { return titleColor_; }
  void setAction(std::function<void()> action) override { action_ = std::move(action); }

 protected:
  bool runTapHandlers(Point location) override;

 private:
  std::string title_;
  std::uint32_t titleColor_ = 0x007affff;
  std::function<void()> action_;
};

// Dragging keeps the offset within the content (no rubber band); without paging the content stops
// where the user lets go. With paging, a released drag settles on the next or previous page in
// its direction once it has moved more than a third of the page or faster than
// kPagingFlingVelocity, otherwise back on the page it started from.
class ORVEX_API HeadlessScrollView : public HeadlessView, public ScrollView {
 public:
  // Points per second.
  static constexpr double kPagingFlingVelocity = 500;

  explicit HeadlessScrollView(std::shared_ptr<TaskQueue> mainQueue)
      : mainQueue_(std::move(mainQueue)) {}

  // ---- ScrollView ----
  Size contentSize() const override { return contentSize_; }
  void setContentSize(Size size) override { contentSize_ = size; }
  Point contentOffset() const override { return bounds().origin; }
  void setContentOffset(Point offset, bool animated) override;
  void setPagingEnabled(bool paging) override { paging_ = paging; }
  bool isPagingEnabled() const override { return paging_; }
  void setScrollEnabled(bool enabled) override { scrollEnabled_ = enabled; }
  bool isScrollEnabled() const override { return scrollEnabled_; }
  bool isDragging() const override { return dragging_; }
  void setDelegate(std::weak_ptr<ScrollViewDelegate> delegate) override {
    delegate_ = std::move(delegate);
  }
  int addPanHandler(std::function<void(PanState state)> handler) override;
  void removePanHandler(int token) override;
  // Moving the bounds is scrolling: reported like setContentOffset(origin, false).
  void setBoundsOrigin(Point origin) override { setContentOffset(origin, false); }

  // ---- what the user plays ----
  // One stage of the user's pan on this view: `translation` from where it began, `velocity` in
  // points per second (read when it ends). Ignored while scrolling is disabled.
  void pan(PanState state, Point translation, Point velocity = {});

 private:
  // Moves the content, reporting a scroll when it changed.
  void moveTo(Point offset);
  // Moves to `target` over kScrollAnimationSeconds, then runs `ended`.
  void animateTo(Point target, void (ScrollViewDelegate::*ended)(ScrollView&));
  Point clamped(Point offset) const;
  Point pageTarget(Point velocity) const;
  template <typename Call>
  void tell(Call call);
  void runPanHandlers(PanState state);

  std::shared_ptr<TaskQueue> mainQueue_;
  Size contentSize_;
  bool paging_ = false;
  bool scrollEnabled_ = true;
  bool dragging_ = false;
  Point dragStart_;
  Point dragTranslation_;
  std::weak_ptr<ScrollViewDelegate> delegate_;
  std::vector<std::pair<int, std::function<void(PanState)>>> panHandlers_;
  int nextPanToken_ = 1;
  // Bumped by every move that supersedes a running animation.
  unsigned animation_ = 0;
};

// Made stopped and hidden; animating shows it.
class HeadlessActivityIndicator : public HeadlessView, public ActivityIndicatorView {
 public:
  HeadlessActivityIndicator() { setHidden(true); }
  void startAnimating() override {
    animating_ = true;
    setHidden(false);
  }
  void stopAnimating() override {
    animating_ = false;
    setHidden(true);
  }
  bool isAnimating() const override { return animating_; }

 private:
  bool animating_ = false;
};

// Runs `step(progress)` at 60 frames per second on `queue` over `seconds` (progress rises to 1
// exactly on the last frame), then `done`; a step that returns false ends it there without `done`.
// No time: the last step at once (then `done` on the next turn).
ORVEX_API void runFrames(const std::shared_ptr<TaskQueue>& queue, double seconds,
                         std::function<bool(double progress)> step, std::function<void()> done);

// Every view of a headless tree is a HeadlessView; a foreign one is a programming error.
ORVEX_API HeadlessView& headlessView(View& view);
ORVEX_API const HeadlessView& headlessView(const View& view);

}  // namespace orvex::headless
