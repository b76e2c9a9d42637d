#include "orvex/measurement/visibility_tracker.h"

#include <gtest/gtest.h>

#include <vector>

#include "orvex/measurement/video_visibility_tracker.h"
#include "ports/headless/headless_user_interface.h"
#include "tests/support/test_sdk.h"

namespace orvex {
namespace {

using headless::EdgeInsets;
using headless::HeadlessUserInterface;
using headless::HeadlessView;
using headless::HeadlessWindow;
using testing_support::TempDir;
using testing_support::TestSdk;

struct Impressions : VisibilityTrackerDelegate {
  int count = 0;
  void didBecomeVisible(VisibilityTracker&) override { ++count; }
};

struct Transitions : VideoVisibilityTrackerDelegate, CarouselVisibilityTrackerDelegate {
  std::vector<bool> events;  // true: visible
  void didBecomeVisible(VideoVisibilityTracker&) override { events.push_back(true); }
  void didBecomeInvisible(VideoVisibilityTracker&) override { events.push_back(false); }
  void didBecomeVisible(CarouselVisibilityTracker&) override { events.push_back(true); }
  void didBecomeInvisible(CarouselVisibilityTracker&) override { events.push_back(false); }
};

// A 390x844 key window whose root view holds a scrolling feed holding a 320x100 ad.
class Screen : public ::testing::Test {
 protected:
  Screen()
      : sdk_(dir_.path()),
        ui_(*sdk_.port().ui),
        window_(ui_.makeKeyWindowWithRootController()),
        feed_(ui_.makeView()),
        ad_(ui_.makeView()) {
    window_->rootViewController()->view()->addSubview(feed_);
    feed_->setFrame(Rect(0, 100, 390, 600));
    feed_->addSubview(ad_);
    ad_->setFrame(Rect(35, 0, 320, 100));
  }
  void advance(double s) { sdk_.advance(s); }
  // A tracker of the ad reporting to `delegate`, started unless asked otherwise.
  template <typename Tracker, typename Delegate>
  std::shared_ptr<Tracker> track(std::shared_ptr<Delegate> delegate, bool start = true) {
    auto tracker = Tracker::create();
    tracker->setView(ad_);
    tracker->setDelegate(delegate);
    if (start) tracker->start();
    return tracker;
  }

  TempDir dir_;
  TestSdk sdk_;
  HeadlessUserInterface& ui_;
  std::shared_ptr<HeadlessWindow> window_;
  std::shared_ptr<View> feed_;
  std::shared_ptr<View> ad_;
};

TEST_F(Screen, ImpressionComesOnTheThirdTickOnlyOnceAndAFailingSampleResets) {
  auto delegate = std::make_shared<Impressions>();
  auto tracker = track<VisibilityTracker>(delegate);
  advance(0.5);
  EXPECT_EQ(delegate->count, 0);
  EXPECT_EQ(tracker->countVisible(), 2);
  ad_->setHidden(true);  // the third sample fails
  advance(0.25);
  EXPECT_EQ(tracker->countVisible(), 0);
  ad_->setHidden(false);
  advance(0.5);
  EXPECT_EQ(delegate->count, 0);
  advance(0.25);  // the sixth tick
  EXPECT_EQ(delegate->count, 1);
  EXPECT_FALSE(tracker->isSampling());
  advance(5);
  EXPECT_EQ(delegate->count, 1);

  // A restart counts from zero again and may call back once more.
  tracker->start();
  advance(0.5);
  tracker->start();
  advance(0.5);
  EXPECT_EQ(delegate->count, 1);
  advance(0.25);
  EXPECT_EQ(delegate->count, 2);
}

TEST_F(Screen, OnScreenTestClipsBySafeAreasAndIgnoresAlpha) {
  EXPECT_TRUE(VisibilityTracker::isViewOnScreen(*ad_));
  ad_->setAlpha(0);
  EXPECT_TRUE(VisibilityTracker::isViewOnScreen(*ad_));

  auto& feed = dynamic_cast<HeadlessView&>(*feed_);
  // Scrolled so that the ad ends exactly at the top of the feed's safe area: no overlap.
  feed.setSafeAreaInsets(EdgeInsets{50, 0, 0, 0});
  feed_->setBoundsOrigin(Point{0, 50});
  EXPECT_FALSE(VisibilityTracker::isViewOnScreen(*ad_));
  feed_->setBoundsOrigin(Point{0, 49});  // one point overlaps
  EXPECT_TRUE(VisibilityTracker::isViewOnScreen(*ad_));

  feed_->setHidden(true);
  EXPECT_FALSE(VisibilityTracker::isViewOnScreen(*ad_));
  feed_->setHidden(false);
  window_->setHidden(true);  // the window's own flag is not consulted
  EXPECT_TRUE(VisibilityTracker::isViewOnScreen(*ad_));
  window_->setHidden(false);

  ad_->removeFromSuperview();
  EXPECT_FALSE(VisibilityTracker::isViewOnScreen(*ad_));
}

TEST_F(Screen, TheStoreSheetOverTheAdsControllerFailsTheTest) {
  auto root = window_->rootViewController();
  auto child = ui_.makeViewController(ViewControllerKind::plain);
  root->addChildViewController(child);
  root->view()->addSubview(child->view());
  child->view()->setFrame(Rect(0, 0, 390, 800));
  child->view()->addSubview(feed_);
  EXPECT_TRUE(VisibilityTracker::isViewOnScreen(*ad_));

  // Presented from the child, the sheet lands on the outermost controller.
  child->present(ui_.makeStoreProductViewController(), false, {});
  EXPECT_FALSE(VisibilityTracker::isViewOnScreen(*ad_));
  advance(0.1);
  EXPECT_FALSE(VisibilityTracker::isViewOnScreen(*ad_));
  root->dismiss(false, {});
  advance(0.1);
  EXPECT_TRUE(VisibilityTracker::isViewOnScreen(*ad_));
}

TEST_F(Screen, VanishedViewStopsSilentlyAndVanishedDelegateStillStops) {
  auto tracker = VisibilityTracker::create();
  {
    auto view = ui_.makeView();
    feed_->addSubview(view);
    view->setFrame(Rect(0, 0, 10, 10));
    tracker->setView(view);
    tracker->start();
    advance(0.25);
    EXPECT_EQ(tracker->countVisible(), 1);
    view->removeFromSuperview();
  }
  advance(0.25);
  EXPECT_FALSE(tracker->isSampling());

  auto delegate = std::make_shared<Impressions>();
  tracker->setView(ad_);
  tracker->setDelegate(delegate);
  tracker->start();
  delegate.reset();
  advance(0.75);
  EXPECT_FALSE(tracker->isSampling());

  // Released by its owner, a sampling tracker just ends.
  auto owned = std::make_shared<Impressions>();
  track<VisibilityTracker>(owned).reset();
  advance(1);
  EXPECT_EQ(owned->count, 0);
}

TEST_F(Screen, VideoTrackerReportsEachCrossingOfHalfVisible) {
  auto delegate = std::make_shared<Transitions>();
  auto tracker = track<VideoVisibilityTracker>(delegate, /*start=*/false);
  // Exactly half inside the window counts as visible.
  feed_->setFrame(Rect(0, 794, 390, 600));
  tracker->start();
  advance(0.25);
  EXPECT_EQ(delegate->events, (std::vector<bool>{true}));
  feed_->setFrame(Rect(0, 795, 390, 600));  // 0.49
  advance(0.25);
  feed_->setFrame(Rect(0, 100, 390, 600));
  advance(0.5);
  EXPECT_EQ(delegate->events, (std::vector<bool>{true, false, true}));

  ad_->setAlpha(0.01);
  advance(0.25);
  ad_->setAlpha(0.02);
  advance(0.25);
  EXPECT_EQ(delegate->events, (std::vector<bool>{true, false, true, false, true}));

  // A screen presented over the ad's controller hides it on the next sample.
  window_->rootViewController()->present(ui_.makeViewController(ViewControllerKind::plain), false,
                                         {});
  advance(0.25);
  EXPECT_EQ(delegate->events.back(), false);
  window_->rootViewController()->dismiss(false, {});
  advance(0.5);
  EXPECT_EQ(delegate->events.back(), true);

  delegate->events.clear();
  tracker->stop();
  tracker->stop();
  EXPECT_EQ(delegate->events, (std::vector<bool>{false}));
}

TEST_F(Screen, CarouselTrackerReportsHiddenOnEveryStartAndStop) {
  auto delegate = std::make_shared<Transitions>();
  auto tracker = track<CarouselVisibilityTracker>(delegate);
  tracker->stop();
  tracker->stop();
  EXPECT_EQ(delegate->events, (std::vector<bool>{false, false, false}));

  delegate->events.clear();
  ad_->setFrame(Rect(0, 0, 0, 100));  // no area: always hidden
  tracker->start();
  advance(1);
  EXPECT_EQ(delegate->events, (std::vector<bool>{false}));
  ad_->setFrame(Rect(0, 0, 320, 100));
  advance(0.25);
  EXPECT_TRUE(tracker->isRolling());
  // Released while rolling: a last hidden report.
  tracker.reset();
  EXPECT_EQ(delegate->events.back(), false);
}

}  // namespace
}  // namespace orvex
