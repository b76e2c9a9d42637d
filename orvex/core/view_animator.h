#pragma once
// Property animations of views (alpha, translation) along a cubic timing curve, with a
// completion. The SDK steps them itself on a main-run-loop timer, so every port animates the same
// way with nothing of its own, and the headless port ends them exactly in virtual time.

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "orvex/platform/geometry.h"
#include "orvex/platform/view.h"

namespace orvex {

// A cubic Bézier timing curve from (0, 0) to (1, 1) through two control points, as in CSS
// cubic-bezier(x1, y1, x2, y2).
struct CubicTiming {
  double x1 = 0.25, y1 = 0.1, x2 = 0.25, y2 = 1.0;
  // The curve's progress at time fraction `t` in [0, 1] (0 and 1 exactly at the ends).
  double progressAt(double t) const;
};

// One animation: views' alpha and translation move from where they are when it starts to the
// targets, over `duration` seconds. Holding the handle is not needed: a started animation runs to
// its end unless stopped; it holds its views weakly (a view that goes is skipped).
class ViewAnimator : public std::enable_shared_from_this<ViewAnimator> {
 public:
  // Frames per second of the stepping timer.
  static constexpr double kFramesPerSecond = 60;

  static std::shared_ptr<ViewAnimator> make(double duration, CubicTiming timing);
  void animateAlpha(const std::shared_ptr<View>& view, double to);
  void animateTranslation(const std::shared_ptr<View>& view, Point to);
  // Runs once on the main queue after the last step (`finished` false when stopped first).
  void setCompletion(std::function<void(bool finished)> completion);
  // Main thread. Takes each view's current values as the start; a duration of 0 or less sets the
  // targets at once and completes on the next main-queue turn.
  void start();
  // Leaves the views where they are and completes with finished = false.
  void stop();
  bool isRunning() const;
};

}  // namespace orvex
