#include "ports/headless/headless_user_interface.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "orvex/platform/alert.h"
#include "ports/linux/recorded_haptics.h"
#include "tests/support/test_sdk.h"

namespace orvex::headless {
namespace {

using testing_support::TempDir;
using testing_support::TestSdk;

// A key window with a root controller on a fresh SDK.
class HeadlessScreen : public ::testing::Test {
 protected:
  TempDir dir;
  TestSdk sdk{dir.path()};
  HeadlessUserInterface& ui = *sdk.port().ui;
  std::shared_ptr<HeadlessWindow> window = ui.makeKeyWindowWithRootController();
};

TEST_F(HeadlessScreen, AnimatedTransitionsEndAfterThreeTenthsOfASecond) {
  auto root = window->rootViewController();
  auto modal = ui.makeViewController(ViewControllerKind::plain);
  bool presented = false, dismissed = false;
  root->present(modal, true, [&] { presented = true; });
  sdk.advance(0.29);
  EXPECT_FALSE(presented);
  sdk.advance(0.02);
  EXPECT_TRUE(presented);
  modal->dismiss(true, [&] { dismissed = true; });
  sdk.advance(0.29);
  EXPECT_FALSE(dismissed);
  sdk.advance(0.02);
  EXPECT_TRUE(dismissed);
}

TEST_F(HeadlessScreen, SizeRulesFollowFramesAndFilling) {
  auto media = ui.makeView();
  window->rootViewController()->view()->addSubview(media);
  media->setFrame(Rect(10, 100, 300, 200));
  auto page = ui.makeView();
  page->setFrame(Rect(0, 0, 390, 390));
  page->setSizeRules(SizeRules{200.0, std::nullopt, Size{4, 1}});  // applied at once
  EXPECT_EQ(page->frame(), Rect(0, 0, 200, 50));
  media->addSubview(page);
  page->setFillsSuperview(true);  // the superview's bounds, then the rules
  EXPECT_EQ(page->frame(), Rect(0, 0, 200, 50));
  page->setSizeRules(SizeRules{std::nullopt, std::nullopt, Size{2, 1}});
  media->setFrame(Rect(10, 100, 320, 200));
  EXPECT_EQ(page->frame(), Rect(0, 0, 320, 160));
  page->setSizeRules(SizeRules{std::nullopt, 40.0, Size{0, 1}});  // a fixed height wins
  EXPECT_EQ(page->frame(), Rect(0, 0, 320, 40));
}

TEST_F(HeadlessScreen, AReleasedDragSettlesByItsDistanceOrSpeedInItsDirection) {
  auto scroll = std::dynamic_pointer_cast<HeadlessScrollView>(ui.makeScrollView());
  window->rootViewController()->view()->addSubview(scroll);
  scroll->setFrame(Rect(0, 0, 300, 200));
  scroll->setContentSize(Size{900, 200});
  const double fast = HeadlessScrollView::kPagingFlingVelocity + 100, slow = 50;
  // Each drag starts on the middle page; `dx` is the finger's move, `v` its speed at release.
  const struct {
    const char* drag;
    bool paging;
    double dx, v, offset;
  } rows[] = {
      {"past a third, slowly", true, -120, -slow, 600},
      {"short and slow: back", true, -90, -slow, 300},
      {"short and fast", true, -90, -fast, 600},
      {"short and fast, right", true, 90, fast, 0},
      {"flicked back against the drag", true, 60, -fast, 300},
      {"beyond the content", true, -400, -fast, 600},
      {"without paging it stays", false, -90, -fast, 390},
  };
  for (const auto& r : rows) {
    scroll->setPagingEnabled(r.paging);
    scroll->setContentOffset(Point{300, 0}, false);
    scroll->pan(PanState::began, {});
    scroll->pan(PanState::changed, {r.dx, 0});
    scroll->pan(PanState::ended, {r.dx, 0}, {r.v, 0});
    sdk.advance(ScrollView::kScrollAnimationSeconds);
    EXPECT_EQ(scroll->contentOffset(), (Point{r.offset, 0})) << r.drag;
  }
}

TEST_F(HeadlessScreen, AlertsSpinnersAndHapticsArePlayedAndRecorded) {
  auto root = window->rootViewController();
  auto spinner = ui.makeActivityIndicator();
  EXPECT_TRUE(spinner->isHidden());
  spinner->startAnimating();
  EXPECT_FALSE(spinner->isHidden());

  int chosen = 0;
  auto alert = ui.makeAlertController(std::nullopt, std::string("Gone"));
  alert->addAction({"Retry", AlertActionStyle::standard, [&] { ++chosen; }});
  alert->addAction({"Cancel", AlertActionStyle::cancel, [&] { ++chosen; }});
  root->present(alert, true, {});
  auto shown = ui.visibleAlert();
  ASSERT_TRUE(shown);
  EXPECT_FALSE(shown->choose("Cancel"));  // not on screen yet
  sdk.advance(0.3);
  EXPECT_TRUE(shown->choose("Cancel"));
  EXPECT_FALSE(shown->choose(0));  // one button per presentation
  sdk.advance(0.3);
  EXPECT_EQ(chosen, 1);
  EXPECT_FALSE(ui.visibleAlert());
  EXPECT_EQ(ui.alertsShown().at(0).actions, (std::vector<std::string>{"Retry", "Cancel"}));

  Haptics& haptics = *sdk.port().platform.haptics;
  haptics.impactOccurred(ImpactStyle::rigid);
  haptics.selectionChanged();
  haptics.notificationOccurred(NotificationFeedback::warning);
  haptics.playVibrationSound();
  EXPECT_EQ(sdk.port().haptics->events(),
            (std::vector<std::string>{"impact rigid", "selection", "notification warning",
                                      "vibration sound"}));

  // What a controller keeps alive goes with it.
  auto kept = std::make_shared<int>(7);
  std::weak_ptr<int> watch = kept;
  auto controller = ui.makeViewController(ViewControllerKind::plain);
  controller->keepAlive(std::move(kept));
  EXPECT_FALSE(watch.expired());
  controller.reset();
  EXPECT_TRUE(watch.expired());
}

}  // namespace
}  // namespace orvex::headless
