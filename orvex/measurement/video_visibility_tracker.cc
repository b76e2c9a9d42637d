#include "orvex/measurement/video_visibility_tracker.h"

#include <chrono>

#include "orvex/core/orvex.h"
#include "orvex/web/link_opener.h"

namespace orvex {
namespace {

constexpr auto kSamplingInterval = std::chrono::milliseconds(250);
constexpr double kVisibleThreshold = 0.5;
constexpr double kInvisibleAlpha = 0.01;

bool isDescendant(const View& view, const View& ancestor) {
  if (&view == &ancestor) return true;
  for (auto v = view.superview(); v; v = v->superview()) {
    if (v.get() == &ancestor) return true;
  }
  return false;
}

bool isDisplayed(const View& view) {
  if (!view.window() || !view.superview()) return false;
  if (view.isHidden() || view.alpha() <= kInvisibleAlpha) return false;
  if (auto outer = outermostViewController(view)) {
    if (auto presented = outer->presentedViewController()) {
      auto presentedView = presented->view();
      if (!presentedView || !isDescendant(view, *presentedView)) return false;
    }
  }
  for (auto v = view.superview(); v; v = v->superview()) {
    if (v->isHidden() || v->alpha() <= kInvisibleAlpha) return false;
  }
  return true;
}

}  // namespace

double visibleFraction(const View& view) {
  if (!isDisplayed(view)) return 0;
  auto window = view.window();
  if (!window) return 0;
  const Rect b = view.bounds();
  const double area = b.size.width * b.size.height;
  if (!(area > 0)) return 0;
  Rect visible = view.convertRect(b, *window).intersection(window->bounds());
  if (visible.isEmpty()) return 0;
  return visible.size.width * visible.size.height / area;
}

namespace detail {

template <typename Tracker, typename Delegate, bool kReportsHiddenOnEveryStop>
void HalfVisibilitySampler<Tracker, Delegate, kReportsHiddenOnEveryStop>::start() {
  stop();
  if (!dispatcher_) return;
  timer_ = dispatcher_->scheduleTimer(kSamplingInterval, true, [weak = this->weak_from_this()] {
    if (auto tracker = weak.lock()) tracker->checkVisibility();
  });
}

template <typename Tracker, typename Delegate, bool kReportsHiddenOnEveryStop>
void HalfVisibilitySampler<Tracker, Delegate, kReportsHiddenOnEveryStop>::stop() {
  if (timer_) timer_->invalidate();
  timer_.reset();
  if (!kReportsHiddenOnEveryStop && !visibleFlag_) return;
  visibleFlag_ = false;
  if (auto delegate = delegate_.lock()) delegate->didBecomeInvisible(self());
}

template <typename Tracker, typename Delegate, bool kReportsHiddenOnEveryStop>
void HalfVisibilitySampler<Tracker, Delegate, kReportsHiddenOnEveryStop>::checkVisibility() {
  auto view = view_.lock();
  if (!view) {
    stop();
    return;
  }
  const bool visible = visibleFraction(*view) >= kVisibleThreshold;
  if (visible == visibleFlag_) return;
  visibleFlag_ = visible;
  auto delegate = delegate_.lock();
  if (!delegate) return;
  if (visible) {
    delegate->didBecomeVisible(self());
  } else {
    delegate->didBecomeInvisible(self());
  }
}

template class HalfVisibilitySampler<VideoVisibilityTracker, VideoVisibilityTrackerDelegate, false>;
template class HalfVisibilitySampler<CarouselVisibilityTracker, CarouselVisibilityTrackerDelegate,
                                     true>;

}  // namespace detail

std::shared_ptr<VideoVisibilityTracker> VideoVisibilityTracker::create() {
  return create(Orvex::shared().platform().dispatcher);
}

std::shared_ptr<VideoVisibilityTracker> VideoVisibilityTracker::create(
    std::shared_ptr<Dispatcher> dispatcher) {
  return std::shared_ptr<VideoVisibilityTracker>(new VideoVisibilityTracker(std::move(dispatcher)));
}

std::shared_ptr<CarouselVisibilityTracker> CarouselVisibilityTracker::create() {
  return create(Orvex::shared().platform().dispatcher);
}

std::shared_ptr<CarouselVisibilityTracker> CarouselVisibilityTracker::create(
    std::shared_ptr<Dispatcher> dispatcher) {
  return std::shared_ptr<CarouselVisibilityTracker>(
      new CarouselVisibilityTracker(std::move(dispatcher)));
}

}  // namespace orvex
