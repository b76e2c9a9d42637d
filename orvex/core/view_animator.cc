#include "orvex/core/view_animator.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "orvex/core/orvex.h"

namespace orvex {

namespace {

// The curve's coordinate along one axis at parameter s, for control values a and b.
double bezier(double s, double a, double b) {
  const double u = 1 - s;
  return 3 * u * u * s * a + 3 * u * s * s * b + s * s * s;
}

double bezierSlope(double s, double a, double b) {
  const double u = 1 - s;
  return 3 * u * u * a + 6 * u * s * (b - a) + 3 * s * s * (1 - b);
}

}  // namespace

double CubicTiming::progressAt(double t) const {
  if (!(t > 0)) return 0;
  if (t >= 1) return 1;
  // Find the parameter whose x is t: Newton from t converges in a few steps on usual curves;
  // where the slope flattens, bisection (x grows monotonically for x1, x2 in [0, 1]) finishes.
  constexpr double kEpsilon = 1e-7;
  double s = t;
  for (int i = 0; i < 8; ++i) {
    const double error = bezier(s, x1, x2) - t;
    if (std::abs(error) < kEpsilon) return bezier(s, y1, y2);
    const double slope = bezierSlope(s, x1, x2);
    if (std::abs(slope) < 1e-6) break;
    s -= error / slope;
    if (s < 0 || s > 1) break;
  }
  double lo = 0, hi = 1;
  s = t;
  for (int i = 0; i < 60; ++i) {
    const double x = bezier(s, x1, x2);
    if (std::abs(x - t) < kEpsilon) break;
    (x < t ? lo : hi) = s;
    s = (lo + hi) / 2;
  }
  return bezier(s, y1, y2);
}

std::shared_ptr<ViewAnimator> ViewAnimator::make(double duration, CubicTiming timing) {
  return make(duration, timing, Orvex::shared().platform().dispatcher);
}

std::shared_ptr<ViewAnimator> ViewAnimator::make(double duration, CubicTiming timing,
                                                 const std::shared_ptr<Dispatcher>& dispatcher) {
  return std::shared_ptr<ViewAnimator>(new ViewAnimator(duration, timing, dispatcher));
}

ViewAnimator::Track& ViewAnimator::track(const std::shared_ptr<View>& view) {
  for (auto& t : tracks_) {
    if (t.view.lock() == view) return t;
  }
  Track t;
  t.view = view;
  return tracks_.emplace_back(std::move(t));
}

void ViewAnimator::animateAlpha(const std::shared_ptr<View>& view, double to) {
  if (view && state_ == State::idle) track(view).alpha = to;
}

void ViewAnimator::animateTranslation(const std::shared_ptr<View>& view, Point to) {
  if (view && state_ == State::idle) track(view).translation = to;
}

void ViewAnimator::setCompletion(std::function<void(bool finished)> completion) {
  completion_ = std::move(completion);
}

bool ViewAnimator::isRunning() const {
  return state_ == State::running;
}

void ViewAnimator::start() {
  if (state_ != State::idle) return;
  state_ = State::running;
  for (auto& t : tracks_) {
    if (auto view = t.view.lock()) {
      t.fromAlpha = view->alpha();
      t.fromTranslation = view->translation();
    }
  }
  auto dispatcher = dispatcher_.lock();
  if (!(duration_ > 0) || !dispatcher) {
    apply(1);
    finish(true);
    return;
  }
  // Whole frames of equal length, the last one landing on the duration itself.
  frames_ = std::max(1, static_cast<int>(std::ceil(duration_ * kFramesPerSecond - 1e-9)));
  interval_ = secondsToDuration(duration_ / frames_);
  scheduleStep();
}

void ViewAnimator::scheduleStep() {
  auto dispatcher = dispatcher_.lock();
  if (!dispatcher) return;
  // The pending frame owns the running animation, so its handle may be dropped. (A repeating
  // timer's handle, held here, would hold this through its closure: a cycle that outlives a run
  // loop ending first.)
  dispatcher->mainQueue()->postAfter(interval_, [self = shared_from_this()] { self->step(); });
}

void ViewAnimator::step() {
  if (state_ != State::running) return;
  ++frame_;
  if (frame_ >= frames_) {
    apply(1);
    finish(true);
    return;
  }
  apply(timing_.progressAt(static_cast<double>(frame_) / frames_));
  scheduleStep();
}

void ViewAnimator::apply(double progress) {
  const bool last = progress >= 1;
  for (auto& t : tracks_) {
    auto view = t.view.lock();
    if (!view) continue;
    if (t.alpha) {
      view->setAlpha(last ? *t.alpha : t.fromAlpha + (*t.alpha - t.fromAlpha) * progress);
    }
    if (auto to = t.translation) {
      const Point from = t.fromTranslation;
      view->setTranslation(
          last ? *to
               : Point{from.x + (to->x - from.x) * progress, from.y + (to->y - from.y) * progress});
    }
  }
}

void ViewAnimator::stop() {
  if (state_ == State::ended) return;
  finish(false);
}

void ViewAnimator::finish(bool finished) {
  state_ = State::ended;  // a frame still pending finds it so and lets go
  tracks_.clear();
  auto completion = std::exchange(completion_, nullptr);
  if (!completion) return;
  auto dispatcher = dispatcher_.lock();
  if (!dispatcher) return;
  dispatcher->mainQueue()->post(
      [completion = std::move(completion), finished] { completion(finished); });
}

}  // namespace orvex
