#include "ports/gtk/gtk_scroll_view.h"

#include <algorithm>
#include <cmath>

#include "orvex/core/view_animator.h"

namespace orvex::gtk {

GtkScrollView::GtkScrollView() : drag_(gtk_gesture_drag_new()) {
  gtk_gesture_single_set_button(GTK_GESTURE_SINGLE(drag_), GDK_BUTTON_PRIMARY);
  // Watched on the way down: a press over a web page or a button inside still reaches it, and
  // the drag claims the pointer from it once it moves.
  gtk_event_controller_set_propagation_phase(GTK_EVENT_CONTROLLER(drag_), GTK_PHASE_CAPTURE);
  signals_.push_back(connectSignal(drag_, "drag-update", &GtkScrollView::onUpdate, this));
  signals_.push_back(connectSignal(drag_, "drag-end", &GtkScrollView::onEnd, this));
  signals_.push_back(connectSignal(drag_, "cancel", &GtkScrollView::onCancel, this));
  gtk_widget_add_controller(widget(), GTK_EVENT_CONTROLLER(drag_));
}

GtkScrollView::~GtkScrollView() {
  signals_.clear();
  gtk_widget_remove_controller(widget(), GTK_EVENT_CONTROLLER(drag_));
}

template <typename Call>
void GtkScrollView::tell(Call call) {
  if (auto delegate = delegate_.lock()) call(*delegate);
}

void GtkScrollView::moveTo(Point offset) {
  if (offset == contentOffset()) return;
  auto keep = weak_from_this().lock();  // a delegate may let go of the view
  GtkView::setBoundsOrigin(offset);
  tell([&](ScrollViewDelegate& d) { d.scrollViewDidScroll(*this); });
}

void GtkScrollView::setContentOffset(Point offset, bool animated) {
  stopAnimation();
  if (animated) {
    animate(offset, Motion::animation);
  } else {
    moveTo(offset);
  }
}

void GtkScrollView::setScrollEnabled(bool enabled) {
  scrollEnabled_ = enabled;
  if (!enabled && dragging_) gtk_event_controller_reset(GTK_EVENT_CONTROLLER(drag_));
}

int GtkScrollView::addPanHandler(std::function<void(PanState)> handler) {
  const int token = nextPanToken_++;
  panHandlers_.emplace_back(token, std::move(handler));
  return token;
}

void GtkScrollView::removePanHandler(int token) {
  std::erase_if(panHandlers_, [&](const auto& entry) { return entry.first == token; });
}

void GtkScrollView::pan(PanState state) {
  auto handlers = panHandlers_;  // a handler may remove itself
  for (auto& [token, handler] : handlers) {
    if (handler) handler(state);
  }
}

// ---- the user's drag ----

void GtkScrollView::onUpdate(GtkGestureDrag* gesture, double dx, double dy, gpointer data) {
  auto* self = static_cast<GtkScrollView*>(data);
  auto keep = self->weak_from_this().lock();
  if (!self->dragging_) {
    if (std::hypot(dx, dy) <= kDragSlop) return;
    if (!self->scrollEnabled_) {
      gtk_gesture_set_state(GTK_GESTURE(gesture), GTK_EVENT_SEQUENCE_DENIED);
      return;
    }
    // A drag now: the pointer is the scroll view's, no longer the page's or button's beneath.
    gtk_gesture_set_state(GTK_GESTURE(gesture), GTK_EVENT_SEQUENCE_CLAIMED);
    self->stopAnimation();  // a touch stops the content
    self->dragging_ = true;
    self->dragStart_ = self->contentOffset();
    self->samples_.clear();
    self->tell([&](ScrollViewDelegate& d) { d.scrollViewWillBeginDragging(*self); });
    self->pan(PanState::began);
  }
  if (!self->dragging_) return;
  // The speed over the last tenth of a second: steady against one late or early event.
  auto& samples = self->samples_;
  const guint32 now = gtk_event_controller_get_current_event_time(GTK_EVENT_CONTROLLER(gesture));
  samples.push_back({now, Point{dx, dy}});
  while (samples.size() > 2 && now - samples[1].time >= kSpeedWindowMs) {
    samples.erase(samples.begin());
  }
  const Sample& oldest = samples.front();
  const double seconds = (now - oldest.time) / 1000.0;
  self->velocity_ = seconds > 0
                        ? Point{(dx - oldest.travel.x) / seconds, (dy - oldest.travel.y) / seconds}
                        : Point{};
  self->dragTo(dx, dy);
  if (self->dragging_) self->pan(PanState::changed);
}

void GtkScrollView::dragTo(double dx, double dy) {
  // Within the content, on the axes it is larger than the view.
  const Size size = bounds().size;
  auto along = [](double start, double travel, double content, double visible) {
    if (content <= visible) return start;
    return std::clamp(start - travel, 0.0, content - visible);
  };
  moveTo(Point{along(dragStart_.x, dx, contentSize_.width, size.width),
               along(dragStart_.y, dy, contentSize_.height, size.height)});
}

void GtkScrollView::onEnd(GtkGestureDrag* gesture, double, double, gpointer data) {
  auto* self = static_cast<GtkScrollView*>(data);
  if (!self->dragging_) return;
  // A pointer that rested before letting go has no speed left.
  const guint32 now = gtk_event_controller_get_current_event_time(GTK_EVENT_CONTROLLER(gesture));
  if (self->samples_.empty() || now > self->samples_.back().time + kSpeedWindowMs) {
    self->velocity_ = {};
  }
  self->endDrag(PanState::ended);
}

void GtkScrollView::onCancel(GtkGesture*, GdkEventSequence*, gpointer data) {
  auto* self = static_cast<GtkScrollView*>(data);
  if (!self->dragging_) return;
  self->velocity_ = {};
  self->endDrag(PanState::cancelled);
}

Point GtkScrollView::settleTarget() const {
  const Point at = contentOffset();
  if (!paging_) return at;
  const Size size = bounds().size;
  auto page = [](double start, double now, double speed, double page, double content) {
    if (page <= 0) return now;
    const double pages = std::max(1.0, std::ceil(content / page - 0.001));
    double index = std::round(start / page);
    const double moved = now - start;
    // Far enough, or fast enough in the direction it moved.
    if (std::abs(moved) > page / 3 || (std::abs(speed) > kFlickSpeed && moved * -speed > 0)) {
      index += moved > 0 ? 1 : -1;
    }
    return std::clamp(index, 0.0, pages - 1) * page;
  };
  return Point{page(dragStart_.x, at.x, velocity_.x, size.width, contentSize_.width),
               page(dragStart_.y, at.y, velocity_.y, size.height, contentSize_.height)};
}

void GtkScrollView::endDrag(PanState state) {
  auto keep = weak_from_this().lock();
  dragging_ = false;
  const Point target = settleTarget();
  const bool decelerate = target != contentOffset();
  tell([&](ScrollViewDelegate& d) { d.scrollViewDidEndDragging(*this, decelerate); });
  pan(state);
  if (decelerate) animate(target, Motion::deceleration);
}

// ---- animation ----

void GtkScrollView::animate(Point to, Motion kind) {
  const Point from = contentOffset();
  // A programmatic scroll eases in and out; a deceleration only out.
  const CubicTiming timing =
      kind == Motion::deceleration ? CubicTiming{0, 0, 0.58, 1} : CubicTiming{0.42, 0, 0.58, 1};
  const unsigned id = ++moves_;
  tween_.start(kScrollAnimationSeconds, [this, from, to, kind, timing, id](double t) {
    auto keep = weak_from_this().lock();
    const double p = timing.progressAt(t);
    moveTo(t >= 1 ? to : Point{from.x + (to.x - from.x) * p, from.y + (to.y - from.y) * p});
    if (t < 1 || moves_ != id) return;  // going on, or superseded from the scroll's delegate
    tell([&](ScrollViewDelegate& d) {
      if (kind == Motion::deceleration) d.scrollViewDidEndDecelerating(*this);
      if (kind == Motion::animation) d.scrollViewDidEndScrollingAnimation(*this);
    });
  });
}

}  // namespace orvex::gtk
