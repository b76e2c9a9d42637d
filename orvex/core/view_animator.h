#pragma once
// Property animations of views (alpha, translation) along a cubic timing curve, with a
// completion. The SDK steps them itself on the main run loop (a delayed main-queue task per frame),
// so every port animates the same way with nothing of its own, and the headless port ends them
// exactly in virtual time.

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "orvex/platform/dispatch.h"
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
  // Frames per second of the stepping.
  static constexpr double kFramesPerSecond = 60;

  // Stepped on the SDK's platform's dispatcher.
  static std::shared_ptr<ViewAnimator> make(double duration, CubicTiming timing);
  // Stepped on `dispatcher` (held weakly: an animation ends with its run loop).
  static std::shared_ptr<ViewAnimator> make(double duration, CubicTiming timing,
                                            const std::shared_ptr<Dispatcher>& dispatcher);
  // Before start(); a second call for the same view replaces the target.
  void animateAlpha(const std::shared_ptr<View>& view, double to);
  void animateTranslation(const std::shared_ptr<View>& view, Point to);
  // Runs once on the main queue after the last step (`finished` false when stopped first).
  void setCompletion(std::function<void(bool finished)> completion);
  // Main thread. Takes each view's current values as the start; a duration of 0 or less sets the
  // targets at once and completes on the next main-queue turn. Once only.
  void start();
  // Leaves the views where they are and completes with finished = false (nothing once ended).
  void stop();
  bool isRunning() const;

 private:
  struct Track {
    std::weak_ptr<View> view;
    std::optional<double> alpha;
    std::optional<Point> translation;
    double fromAlpha = 1;
    Point fromTranslation;
  };
  enum class State { idle, running, ended };

  ViewAnimator(double duration, CubicTiming timing, std::weak_ptr<Dispatcher> dispatcher)
      : duration_(duration), timing_(timing), dispatcher_(std::move(dispatcher)) {}
  Track& track(const std::shared_ptr<View>& view);
  void scheduleStep();
  void step();
  void apply(double progress);
  void finish(bool finished);

  const double duration_;
  const CubicTiming timing_;
  const std::weak_ptr<Dispatcher> dispatcher_;
  std::vector<Track> tracks_;
  std::function<void(bool)> completion_;
  State state_ = State::idle;
  int frame_ = 0;
  int frames_ = 0;
  Duration interval_{0};
};

}  // namespace orvex
