#include "orvex/measurement/visibility_tracker.h"

#include <chrono>

#include "orvex/core/orvex.h"
#include "orvex/web/link_opener.h"

namespace orvex {

namespace {
constexpr auto kSamplingInterval = std::chrono::milliseconds(250);
}  // namespace

std::shared_ptr<VisibilityTracker> VisibilityTracker::create() {
  return create(Orvex::shared().platform().dispatcher);
}

std::shared_ptr<VisibilityTracker> VisibilityTracker::create(
    std::shared_ptr<Dispatcher> dispatcher) {
  return std::shared_ptr<VisibilityTracker>(new VisibilityTracker(std::move(dispatcher)));
}

VisibilityTracker::~VisibilityTracker() {
  cancel();
}

void VisibilityTracker::cancel() {
  if (timer_) timer_->invalidate();
  timer_.reset();
  countVisible_ = 0;
}

void VisibilityTracker::start() {
  cancel();
  if (!dispatcher_) return;
  timer_ = dispatcher_->scheduleTimer(kSamplingInterval, true, [weak = weak_from_this()] {
    if (auto self = weak.lock()) self->checkVisibility();
  });
}

void VisibilityTracker::checkVisibility() {
  auto view = view_.lock();
  if (!view) {
    cancel();
    return;
  }
  if (!isViewOnScreen(*view)) {
    countVisible_ = 0;
    return;
  }
  if (++countVisible_ < kRequiredSamples) return;
  auto self = shared_from_this();  // the delegate may release its tracker
  cancel();
  if (auto delegate = delegate_.lock()) delegate->didBecomeVisible(*this);
}

bool VisibilityTracker::isViewOnScreen(const View& view) {
  if (auto outer = outermostViewController(view)) {
    auto presented = outer->presentedViewController();
    if (presented && presented->kind() == ViewControllerKind::storeProduct) return false;
  }
  // One walk up: the window test is the top of the walk (a hidden ancestor fails either way).
  Rect r = view.bounds();
  const View* current = &view;
  std::shared_ptr<View> hold;
  for (;;) {
    auto parent = current->superview();
    if (!parent) {
      if (!dynamic_cast<const Window*>(current)) return false;
      return current == &view || r.intersects(current->frame());
    }
    if (current->isHidden()) return false;
    r = current->convertRect(r, *parent).intersection(parent->safeAreaFrame());
    if (r.isEmpty()) return false;
    hold = std::move(parent);
    current = hold.get();
  }
}

}  // namespace orvex
