#pragma once
// Decides when an ad view has been on screen long enough to count as an impression: four samples
// a second, one callback after three consecutive passing samples. Main thread only.
//
// The owner holds the tracker; the timer holds it weakly, so releasing the tracker ends sampling.
// The view and the delegate are held weakly: a tracker never keeps an ad alive.

#include <cstdint>
#include <memory>

#include "orvex/platform/dispatch.h"
#include "orvex/platform/view.h"

namespace orvex {

class VisibilityTracker;

class ORVEX_API VisibilityTrackerDelegate {
 public:
  virtual ~VisibilityTrackerDelegate() = default;
  virtual void didBecomeVisible(VisibilityTracker& tracker) = 0;
};

class VisibilityTracker : public std::enable_shared_from_this<VisibilityTracker> {
 public:
  static constexpr int64_t kRequiredSamples = 3;

  // On the SDK platform's main run loop, or on `dispatcher`'s.
  static std::shared_ptr<VisibilityTracker> create();
  static std::shared_ptr<VisibilityTracker> create(std::shared_ptr<Dispatcher> dispatcher);
  VisibilityTracker(const VisibilityTracker&) = delete;
  VisibilityTracker& operator=(const VisibilityTracker&) = delete;
  ~VisibilityTracker();

  void setView(std::weak_ptr<View> view) { view_ = std::move(view); }
  void setDelegate(std::weak_ptr<VisibilityTrackerDelegate> delegate) {
    delegate_ = std::move(delegate);
  }

  // Begins, or restarts from a count of 0, sampling every 0.25 s.
  void start();
  // What an owner does to stop early: no callback, count back to 0.
  void cancel();
  // One sample (the timer's action).
  void checkVisibility();

  int64_t countVisible() const { return countVisible_; }
  bool isSampling() const { return timer_ != nullptr; }

  // Attached to a window, not hidden up to the window, not under the app-store sheet, and some
  // part of it survives clipping by every ancestor's safe area.
  static bool isViewOnScreen(const View& view);

 private:
  explicit VisibilityTracker(std::shared_ptr<Dispatcher> dispatcher)
      : dispatcher_(std::move(dispatcher)) {}

  std::shared_ptr<Dispatcher> dispatcher_;
  std::weak_ptr<VisibilityTrackerDelegate> delegate_;
  std::weak_ptr<View> view_;
  std::unique_ptr<Timer> timer_;
  int64_t countVisible_ = 0;
};

}  // namespace orvex
