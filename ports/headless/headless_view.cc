#include "ports/headless/headless_view.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "orvex/core/view_animator.h"

namespace orvex::headless {

HeadlessView& headlessView(View& view) {
  auto* h = dynamic_cast<HeadlessView*>(&view);
  if (!h) std::abort();  // a foreign view in a headless tree
  return *h;
}

const HeadlessView& headlessView(const View& view) {
  return headlessView(const_cast<View&>(view));
}

HeadlessView::~HeadlessView() {
  // Children outlive a parent only if someone else holds them; they must not point at it.
  for (auto& child : subviews_) headlessView(*child).superview_.reset();
}

std::vector<std::shared_ptr<View>> HeadlessView::subviews() const {
  return subviews_;
}

void HeadlessView::addSubview(std::shared_ptr<View> view) {
  attach(std::move(view), subviews_.size());
}

void HeadlessView::insertSubview(std::shared_ptr<View> view, std::size_t index) {
  attach(std::move(view), index);
}

void HeadlessView::attach(std::shared_ptr<View> view, std::size_t index) {
  if (!view || view.get() == static_cast<View*>(this)) return;
  // A view cannot become its own descendant.
  for (auto s = superview(); s; s = s->superview()) {
    if (s == view) return;
  }
  auto& child = headlessView(*view);
  if (auto old = child.superview_.lock()) {
    headlessView(*old).detachChild(view.get());
  }
  child.superview_ = std::dynamic_pointer_cast<View>(shared_from_this());
  index = std::min(index, subviews_.size());
  subviews_.insert(subviews_.begin() + static_cast<std::ptrdiff_t>(index), view);
  if (child.fillsSuperview_) child.setFrame(Rect(0, 0, frame_.size.width, frame_.size.height));
}

void HeadlessView::detachChild(const View* child) {
  auto it = std::find_if(subviews_.begin(), subviews_.end(),
                         [&](const std::shared_ptr<View>& v) { return v.get() == child; });
  if (it == subviews_.end()) return;
  auto keep = *it;  // the child may be owned only by this list
  subviews_.erase(it);
  headlessView(*keep).superview_.reset();
}

void HeadlessView::removeFromSuperview() {
  auto parent = superview_.lock();
  if (!parent) return;
  auto self = shared_from_this();  // keep alive through the erase
  headlessView(*parent).detachChild(self.get());
}

std::shared_ptr<Window> HeadlessView::window() const {
  const View* top = this;
  for (auto s = superview_.lock(); s; s = headlessView(*s).superview_.lock()) {
    top = s.get();
    if (dynamic_cast<const Window*>(top)) {
      return std::dynamic_pointer_cast<Window>(
          std::const_pointer_cast<View>(top->shared_from_this()));
    }
  }
  if (dynamic_cast<const Window*>(top)) {
    return std::dynamic_pointer_cast<Window>(
        std::const_pointer_cast<View>(top->shared_from_this()));
  }
  return nullptr;
}

void HeadlessView::setFrame(const Rect& proposed) {
  Rect frame = proposed;
  frame.size = applySizeRules(sizeRules_, proposed.size);
  bool resized = frame.size != frame_.size;
  frame_ = frame;
  if (!resized) return;
  layoutFillingSubviews();
  if (layoutHandler_) {
    auto handler = layoutHandler_;  // the handler may replace itself
    handler();
  }
}

void HeadlessView::layoutFillingSubviews() {
  auto children = subviews_;
  for (auto& child : children) {
    auto& c = headlessView(*child);
    if (c.fillsSuperview_) c.setFrame(Rect(0, 0, frame_.size.width, frame_.size.height));
  }
}

void HeadlessView::setSizeRules(const SizeRules& rules) {
  sizeRules_ = rules;
  setFrame(frame_);
}

void HeadlessView::setFillsSuperview(bool fills) {
  fillsSuperview_ = fills;
  if (!fills) return;
  if (auto parent = superview_.lock()) {
    auto size = parent->bounds().size;
    setFrame(Rect(0, 0, size.width, size.height));
  }
}

Rect HeadlessView::safeAreaFrame() const {
  Rect b = bounds();
  double w = std::max(0.0, b.size.width - safeAreaInsets_.left - safeAreaInsets_.right);
  double h = std::max(0.0, b.size.height - safeAreaInsets_.top - safeAreaInsets_.bottom);
  return Rect(b.origin.x + safeAreaInsets_.left, b.origin.y + safeAreaInsets_.top, w, h);
}

Point HeadlessView::screenOrigin() const {
  Point p = originInSuperview();
  for (auto s = superview_.lock(); s; s = headlessView(*s).superview_.lock()) {
    const Point o = headlessView(*s).originInSuperview();
    p = {p.x + o.x, p.y + o.y};
  }
  return p;
}

Rect HeadlessView::convertRect(const Rect& rect, const View& other) const {
  if (&other == static_cast<const View*>(this)) return rect;
  const auto& o = headlessView(other);
  // The common case of a walk up the tree: one step, no trip through the screen.
  if (auto parent = superview_.lock(); parent.get() == &other) {
    const Point o = originInSuperview();
    return rect.offsetBy(o.x, o.y);
  }
  Point from = screenOrigin();
  Point to = o.screenOrigin();
  return rect.offsetBy(from.x - to.x, from.y - to.y);
}

std::shared_ptr<View> HeadlessView::hitTest(Point point, HitTestEvent event) {
  if (hidden_ || !userInteraction_ || alpha_ <= kHitTestMinimumAlpha) return nullptr;
  if (!bounds().contains(point)) return nullptr;
  if (clipsToBounds_ && !insideRoundedShape(point)) return nullptr;
  if (passThrough_ && passThrough_(event)) return nullptr;
  for (auto it = subviews_.rbegin(); it != subviews_.rend(); ++it) {
    auto& child = headlessView(**it);
    const Point o = child.originInSuperview();
    if (auto hit = child.hitTest(Point{point.x - o.x, point.y - o.y}, event)) return hit;
  }
  return shared_from_this();
}

bool HeadlessView::insideRoundedShape(Point point) const {
  return insideRoundedRect(bounds(), cornerRadius_, roundedCorners_, point);
}

int HeadlessView::addTapHandler(std::function<void()> handler) {
  return addLocatedTapHandler([handler = std::move(handler)](Point) {
    if (handler) handler();
  });
}

int HeadlessView::addLocatedTapHandler(std::function<void(Point)> handler) {
  int token = nextTapToken_++;
  tapHandlers_.emplace_back(token, std::move(handler));
  return token;
}

void HeadlessView::removeTapHandler(int token) {
  std::erase_if(tapHandlers_, [&](const auto& entry) { return entry.first == token; });
}

bool HeadlessView::runTapHandlers(Point location) {
  if (tapHandlers_.empty()) return false;
  auto handlers = tapHandlers_;  // a handler may remove itself or the view
  for (auto& [token, handler] : handlers) {
    if (handler) handler(location);
  }
  return true;
}

bool HeadlessView::tap(Point point) {
  auto hit = hitTest(point);
  for (auto v = hit; v; v = v->superview()) {
    const Point location = convertRect(Rect(point.x, point.y, 0, 0), *v).origin;
    if (headlessView(*v).runTapHandlers(location)) return true;
  }
  return false;
}

bool HeadlessView::drag(Point from, Point to, double seconds, int steps) {
  std::shared_ptr<HeadlessScrollView> scroll;
  for (auto v = hitTest(from); v && !scroll; v = v->superview()) {
    auto s = std::dynamic_pointer_cast<HeadlessScrollView>(v);
    if (s && s->isScrollEnabled()) scroll = std::move(s);
  }
  if (!scroll) return false;
  steps = std::max(steps, 1);
  const Point d{to.x - from.x, to.y - from.y};
  const double t = seconds > 0 ? seconds : 0.25;
  scroll->pan(PanState::began, {});
  for (int i = 1; i <= steps; ++i) {
    scroll->pan(PanState::changed, {d.x * i / steps, d.y * i / steps});
  }
  scroll->pan(PanState::ended, d, {d.x / t, d.y / t});
  return true;
}

std::shared_ptr<View> HeadlessView::findView(const std::string& identifier) {
  if (identifier_ == identifier) return shared_from_this();
  for (auto& child : subviews_) {
    if (auto found = headlessView(*child).findView(identifier)) return found;
  }
  return nullptr;
}

// ---- frames ----

void runFrames(const std::shared_ptr<TaskQueue>& queue, double seconds,
               std::function<bool(double progress)> step, std::function<void()> done) {
  struct Run {
    std::weak_ptr<TaskQueue> queue;
    Duration interval;
    int frames;
    int frame = 0;
    std::function<bool(double)> step;
    std::function<void()> done;
    static void next(const std::shared_ptr<Run>& run) {
      auto q = run->queue.lock();
      if (!q) return;
      // The task holds the run; the run holds its queue weakly.
      q->postAfter(run->interval, [run] {
        ++run->frame;
        const bool last = run->frame >= run->frames;
        if (!run->step(last ? 1.0 : static_cast<double>(run->frame) / run->frames)) return;
        if (!last) return next(run);
        if (auto d = std::move(run->done)) d();
      });
    }
  };
  if (!queue) return;
  if (!(seconds > 0)) {
    if (step(1) && done) queue->post(std::move(done));
    return;
  }
  const int frames =
      std::max(1, static_cast<int>(std::ceil(seconds * ViewAnimator::kFramesPerSecond - 1e-9)));
  Run::next(std::make_shared<Run>(Run{queue, secondsToDuration(seconds / frames), frames, 0,
                                      std::move(step), std::move(done)}));
}

// ---- HeadlessButton ----

bool HeadlessButton::runTapHandlers(Point location) {
  HeadlessView::runTapHandlers(location);
  if (auto action = action_) action();  // may replace itself
  return true;
}

// ---- HeadlessScrollView ----

template <typename Call>
void HeadlessScrollView::tell(Call call) {
  if (auto delegate = delegate_.lock()) call(*delegate);
}

void HeadlessScrollView::moveTo(Point offset) {
  if (offset == contentOffset()) return;
  HeadlessView::setBoundsOrigin(offset);
  tell([&](ScrollViewDelegate& d) { d.scrollViewDidScroll(*this); });
}

void HeadlessScrollView::setContentOffset(Point offset, bool animated) {
  ++animation_;
  if (animated) {
    animateTo(offset, &ScrollViewDelegate::scrollViewDidEndScrollingAnimation);
  } else {
    moveTo(offset);
  }
}

void HeadlessScrollView::animateTo(Point target, void (ScrollViewDelegate::*ended)(ScrollView&)) {
  const unsigned id = ++animation_;
  const Point from = contentOffset();
  auto weak = std::weak_ptr<HeadlessScrollView>(
      std::dynamic_pointer_cast<HeadlessScrollView>(shared_from_this()));
  // A programmatic scroll eases in and out; a deceleration only out.
  const CubicTiming timing = ended == &ScrollViewDelegate::scrollViewDidEndDecelerating
                                 ? CubicTiming{0, 0, 0.58, 1}
                                 : CubicTiming{0.42, 0, 0.58, 1};
  runFrames(
      mainQueue_, kScrollAnimationSeconds,
      [weak, id, from, target, timing](double progress) {
        auto self = weak.lock();
        if (!self || self->animation_ != id) return false;
        const double p = timing.progressAt(progress);
        self->moveTo(progress >= 1 ? target
                                   : Point{from.x + (target.x - from.x) * p,
                                           from.y + (target.y - from.y) * p});
        return true;
      },
      [weak, id, ended] {
        auto self = weak.lock();
        if (!self || self->animation_ != id) return;
        self->tell([&](ScrollViewDelegate& d) { (d.*ended)(*self); });
      });
}

Point HeadlessScrollView::clamped(Point offset) const {
  const Size size = bounds().size;
  return {std::clamp(offset.x, 0.0, std::max(0.0, contentSize_.width - size.width)),
          std::clamp(offset.y, 0.0, std::max(0.0, contentSize_.height - size.height))};
}

Point HeadlessScrollView::pageTarget(Point velocity) const {
  auto axis = [](double start, double now, double page, double content, double v) {
    if (!(page > 0)) return now;
    const double moved = now - start;
    // The content moves against the finger.
    const double contentVelocity = -v;
    int dir = 0;
    if (moved > page / 3 || (moved > 0 && contentVelocity > kPagingFlingVelocity)) dir = 1;
    if (moved < -page / 3 || (moved < 0 && contentVelocity < -kPagingFlingVelocity)) dir = -1;
    const double target = (std::round(start / page) + dir) * page;
    return std::clamp(target, 0.0, std::max(0.0, content - page));
  };
  const Point now = contentOffset();
  const Size size = bounds().size;
  return {axis(dragStart_.x, now.x, size.width, contentSize_.width, velocity.x),
          axis(dragStart_.y, now.y, size.height, contentSize_.height, velocity.y)};
}

void HeadlessScrollView::pan(PanState state, Point translation, Point velocity) {
  if (!scrollEnabled_) return;
  auto keep = shared_from_this();  // a delegate may let the view go
  switch (state) {
    case PanState::began:
      ++animation_;  // a touch stops the content
      dragging_ = true;
      dragStart_ = contentOffset();
      tell([&](ScrollViewDelegate& d) { d.scrollViewWillBeginDragging(*this); });
      break;
    case PanState::changed:
      if (!dragging_) return;
      moveTo(clamped({dragStart_.x - translation.x, dragStart_.y - translation.y}));
      break;
    case PanState::ended:
    case PanState::cancelled:
    case PanState::failed: {
      if (!dragging_) return;
      if (state == PanState::ended) {
        moveTo(clamped({dragStart_.x - translation.x, dragStart_.y - translation.y}));
      } else {
        velocity = {};
      }
      dragging_ = false;
      const Point target = paging_ ? pageTarget(velocity) : contentOffset();
      const bool decelerates = target != contentOffset();
      tell([&](ScrollViewDelegate& d) { d.scrollViewDidEndDragging(*this, decelerates); });
      runPanHandlers(state);
      if (decelerates) animateTo(target, &ScrollViewDelegate::scrollViewDidEndDecelerating);
      return;
    }
  }
  runPanHandlers(state);
}

int HeadlessScrollView::addPanHandler(std::function<void(PanState state)> handler) {
  const int token = nextPanToken_++;
  panHandlers_.emplace_back(token, std::move(handler));
  return token;
}

void HeadlessScrollView::removePanHandler(int token) {
  std::erase_if(panHandlers_, [&](const auto& entry) { return entry.first == token; });
}

void HeadlessScrollView::runPanHandlers(PanState state) {
  auto handlers = panHandlers_;  // a handler may remove itself
  for (auto& [token, handler] : handlers) {
    if (handler) handler(state);
  }
}

}  // namespace orvex::headless
