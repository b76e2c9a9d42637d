#pragma once
// Trackers that report each crossing of the half-visible line, so videos play and carousels roll
// only while they can be seen. They sample every 0.25 s until stopped. Main thread only; view and
// delegate are held weakly, the owner holds the tracker.

#include <memory>

#include "orvex/platform/dispatch.h"
#include "orvex/platform/view.h"

namespace orvex {

class VideoVisibilityTracker;
class CarouselVisibilityTracker;

class ORVEX_API VideoVisibilityTrackerDelegate {
 public:
  virtual ~VideoVisibilityTrackerDelegate() = default;
  virtual void didBecomeVisible(VideoVisibilityTracker& tracker) = 0;
  virtual void didBecomeInvisible(VideoVisibilityTracker& tracker) = 0;
};

class ORVEX_API CarouselVisibilityTrackerDelegate {
 public:
  virtual ~CarouselVisibilityTrackerDelegate() = default;
  virtual void didBecomeVisible(CarouselVisibilityTracker& tracker) = 0;
  virtual void didBecomeInvisible(CarouselVisibilityTracker& tracker) = 0;
};

// The part of the view's area inside its window's bounds, 0 when it is not displayed (no window,
// hidden or alpha 0.01 or less up the tree, or under a presented screen).
double visibleFraction(const View& view);

namespace detail {

// The mechanism both trackers share. `kReportsHiddenOnEveryStop`: the carousel's stop reports
// hidden whatever was last reported; the video's only after a visible report.
template <typename Tracker, typename Delegate, bool kReportsHiddenOnEveryStop>
class HalfVisibilitySampler : public std::enable_shared_from_this<Tracker> {
 public:
  HalfVisibilitySampler(const HalfVisibilitySampler&) = delete;
  HalfVisibilitySampler& operator=(const HalfVisibilitySampler&) = delete;

  void setView(std::weak_ptr<View> view) { view_ = std::move(view); }
  void setDelegate(std::weak_ptr<Delegate> delegate) { delegate_ = std::move(delegate); }

  void start();
  void stop();
  void checkVisibility();
  bool isSampling() const { return timer_ != nullptr; }

 protected:
  explicit HalfVisibilitySampler(std::shared_ptr<Dispatcher> dispatcher)
      : dispatcher_(std::move(dispatcher)) {}
  ~HalfVisibilitySampler() = default;
  bool visibleFlag_ = false;

 private:
  Tracker& self() { return static_cast<Tracker&>(*this); }

  std::shared_ptr<Dispatcher> dispatcher_;
  std::weak_ptr<Delegate> delegate_;
  std::weak_ptr<View> view_;
  std::unique_ptr<Timer> timer_;
};

}  // namespace detail

class VideoVisibilityTracker
    : public detail::HalfVisibilitySampler<VideoVisibilityTracker, VideoVisibilityTrackerDelegate,
                                           false> {
 public:
  static std::shared_ptr<VideoVisibilityTracker> create();
  static std::shared_ptr<VideoVisibilityTracker> create(std::shared_ptr<Dispatcher> dispatcher);
  // A tracker released while visible tells its delegate once more: hidden.
  ~VideoVisibilityTracker() { stop(); }
  bool isPlaying() const { return visibleFlag_; }

 private:
  using HalfVisibilitySampler::HalfVisibilitySampler;
};

class CarouselVisibilityTracker
    : public detail::HalfVisibilitySampler<CarouselVisibilityTracker,
                                           CarouselVisibilityTrackerDelegate, true> {
 public:
  static std::shared_ptr<CarouselVisibilityTracker> create();
  static std::shared_ptr<CarouselVisibilityTracker> create(std::shared_ptr<Dispatcher> dispatcher);
  ~CarouselVisibilityTracker() { stop(); }
  bool isRolling() const { return visibleFlag_; }

 private:
  using HalfVisibilitySampler::HalfVisibilitySampler;
};

}  // namespace orvex
