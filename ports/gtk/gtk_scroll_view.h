#pragma once
// The desktop port's scroll view: a container of the port's own whose bounds' origin is the
// content offset. The user drags it with the primary button through a drag gesture that watches in
// the capture phase and claims the pointer only once it has moved beyond a tap's slop, so a tap
// still reaches a page or a button inside, and a drag that starts over a web page moves the
// content as well. Offsets animate on a main-loop timer. Main thread only.

#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "orvex/platform/view.h"
#include "ports/gtk/gobject_ptr.h"
#include "ports/gtk/gtk_view.h"

namespace orvex::gtk {

class GtkScrollView : public GtkView, public ScrollView {
 public:
  // Pointer travel before a press becomes a drag (as a tap's slop).
  static constexpr double kDragSlop = 8;
  // A release faster than this (points per second) turns the page, however short the drag.
  static constexpr double kFlickSpeed = 500;
  // How far back the release's speed is measured, and how long a rest before release stops it.
  static constexpr guint32 kSpeedWindowMs = 100;

  GtkScrollView();
  ~GtkScrollView() override;

  // Moving the bounds is scrolling: as setContentOffset(origin, false).
  void setBoundsOrigin(Point origin) override { setContentOffset(origin, false); }

  Size contentSize() const override { return contentSize_; }
  void setContentSize(Size size) override { contentSize_ = size; }
  Point contentOffset() const override { return bounds().origin; }
  void setContentOffset(Point offset, bool animated) override;
  void setPagingEnabled(bool paging) override { paging_ = paging; }
  bool isPagingEnabled() const override { return paging_; }
  void setScrollEnabled(bool enabled) override;
  bool isScrollEnabled() const override { return scrollEnabled_; }
  bool isDragging() const override { return dragging_; }
  void setDelegate(std::weak_ptr<ScrollViewDelegate> delegate) override {
    delegate_ = std::move(delegate);
  }
  int addPanHandler(std::function<void(PanState state)> handler) override;
  void removePanHandler(int token) override;

 private:
  enum class Motion { animation, deceleration };
  static void onUpdate(GtkGestureDrag* gesture, double dx, double dy, gpointer self);
  static void onEnd(GtkGestureDrag* gesture, double dx, double dy, gpointer self);
  static void onCancel(GtkGesture* gesture, GdkEventSequence* sequence, gpointer self);
  // Moves the content, reporting a scroll when it changed.
  void moveTo(Point offset);
  // Follows the pointer, `dx`, `dy` from where the press was.
  void dragTo(double dx, double dy);
  void endDrag(PanState state);
  void pan(PanState state);
  // The offset a released drag settles on: the nearest page in the drag's direction.
  Point settleTarget() const;
  void animate(Point to, Motion kind);
  // Ends a running animation where it is, without reporting its end.
  void stopAnimation() {
    tween_.stop();
    ++moves_;
  }
  // Calls the delegate, if any; the scroll view may be released meanwhile.
  template <typename Call>
  void tell(Call call);

  Size contentSize_;
  bool paging_ = false;
  bool scrollEnabled_ = true;
  bool dragging_ = false;
  std::weak_ptr<ScrollViewDelegate> delegate_;
  std::vector<std::pair<int, std::function<void(PanState)>>> panHandlers_;
  int nextPanToken_ = 1;
  GtkGesture* drag_;  // owned by the widget
  std::vector<SignalConnection> signals_;
  Point dragStart_;  // the content offset when the drag began
  // The pointer's travel over the last moments (event times in ms), for its speed at release.
  struct Sample {
    guint32 time;
    Point travel;
  };
  std::vector<Sample> samples_;
  Point velocity_;  // points per second
  Tween tween_;
  unsigned moves_ = 0;  // bumped by whatever supersedes a running animation
};

}  // namespace orvex::gtk
