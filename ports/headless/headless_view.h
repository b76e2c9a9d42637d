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

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "orvex/platform/activity_indicator.h"
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

  // ---- what the host plays ----
  void setSafeAreaInsets(EdgeInsets insets) { safeAreaInsets_ = insets; }
  std::uint32_t backgroundColor() const { return backgroundColor_; }
  // A tap at `point` (this view's coordinates): the hit view, or the nearest ancestor of it with
  // tap handlers, runs them (located ones get the point in that view's coordinates). Returns
  // whether any handler ran.
  bool tap(Point point);
  // The first view in this subtree (this one included) with the identifier.
  std::shared_ptr<View> findView(const std::string& identifier);
  // Origin of this view's bounds in screen coordinates.
  Point screenOrigin() const;

  // The controller whose root view this is (set by the controller).
  void setViewController(std::weak_ptr<ViewController> controller) {
    controller_ = std::move(controller);
  }

 private:
  void attach(std::shared_ptr<View> view, std::size_t index);
  void detachChild(const View* child);
  void layoutFillingSubviews();
  bool runTapHandlers(Point location);

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
  std::uint32_t textColor() const { return textColor_; }

 private:
  std::string text_;
  std::uint32_t textColor_ = 0x000000ff;
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

// Every view of a headless tree is a HeadlessView; a foreign one is a programming error.
ORVEX_API HeadlessView& headlessView(View& view);
ORVEX_API const HeadlessView& headlessView(const View& view);

}  // namespace orvex::headless
