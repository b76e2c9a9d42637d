#include "ports/headless/headless_view.h"

#include <algorithm>
#include <cstdlib>

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
  double x = frame_.origin.x - boundsOrigin_.x;
  double y = frame_.origin.y - boundsOrigin_.y;
  for (auto s = superview_.lock(); s; s = headlessView(*s).superview_.lock()) {
    const auto& h = headlessView(*s);
    x += h.frame_.origin.x - h.boundsOrigin_.x;
    y += h.frame_.origin.y - h.boundsOrigin_.y;
  }
  return {x, y};
}

Rect HeadlessView::convertRect(const Rect& rect, const View& other) const {
  if (&other == static_cast<const View*>(this)) return rect;
  const auto& o = headlessView(other);
  // The common case of a walk up the tree: one step, no trip through the screen.
  if (auto parent = superview_.lock(); parent.get() == &other) {
    return rect.offsetBy(frame_.origin.x - boundsOrigin_.x, frame_.origin.y - boundsOrigin_.y);
  }
  Point from = screenOrigin();
  Point to = o.screenOrigin();
  return rect.offsetBy(from.x - to.x, from.y - to.y);
}

std::shared_ptr<View> HeadlessView::hitTest(Point point, HitTestEvent event) {
  if (hidden_ || !userInteraction_ || alpha_ <= kHitTestMinimumAlpha) return nullptr;
  if (!bounds().contains(point)) return nullptr;
  if (passThrough_ && passThrough_(event)) return nullptr;
  for (auto it = subviews_.rbegin(); it != subviews_.rend(); ++it) {
    auto& child = headlessView(**it);
    Point p{point.x - child.frame_.origin.x + child.boundsOrigin_.x,
            point.y - child.frame_.origin.y + child.boundsOrigin_.y};
    if (auto hit = child.hitTest(p, event)) return hit;
  }
  return shared_from_this();
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

std::shared_ptr<View> HeadlessView::findView(const std::string& identifier) {
  if (identifier_ == identifier) return shared_from_this();
  for (auto& child : subviews_) {
    if (auto found = headlessView(*child).findView(identifier)) return found;
  }
  return nullptr;
}

}  // namespace orvex::headless
