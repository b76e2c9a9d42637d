// The SDK's view animator (orvex/core/view_animator.h) on the port's timers and views: alpha and
// translation end exactly on their targets, the completion runs once on the main queue, stopping
// completes it unfinished; and a root swap cross-dissolves
// (Window::transitionToRootViewController).
#include <memory>
#include <vector>

#include "orvex/core/view_animator.h"
#include "tests/conformance/port_harness.h"

namespace orvex::conformance {
namespace {

class Animations : public PortTest {
 protected:
  std::shared_ptr<ViewAnimator> animator(double seconds) {
    auto a = ViewAnimator::make(seconds, CubicTiming{}, port().platform().dispatcher);
    a->setCompletion([this](bool finished) { completions.push_back(finished); });
    return a;
  }
  std::vector<bool> completions;
};
ORVEX_CONFORMANCE_AREA(Animations);

TEST_P(Animations, AlphaAndTranslationEndOnTheirTargetsAndCompleteOnce) {
  auto sheet = addView(Rect(0, 0, 200, 200));
  auto dim = addView(Rect(0, 0, 200, 200));
  dim->setAlpha(0.2);
  {
    auto a = animator(0.25);
    a->animateAlpha(sheet, 0);
    a->animateTranslation(sheet, Point{0, 120});
    a->animateAlpha(dim, 0.5);
    a->start();
    EXPECT_TRUE(a->isRunning());
    EXPECT_EQ(sheet->alpha(), 1) << "the first step is a frame away";
  }  // the handle goes: the animation runs on
  ASSERT_TRUE(port().runUntil([&] { return !completions.empty(); }));
  EXPECT_EQ(sheet->alpha(), 0);
  EXPECT_EQ(sheet->translation(), (Point{0, 120}));
  EXPECT_EQ(dim->alpha(), 0.5);
  port().runFor(0.3);
  EXPECT_EQ(completions, std::vector<bool>{true});

  // No duration: the targets at once, the completion on the next turn; a view that went is
  // skipped.
  completions.clear();
  auto gone = addView(Rect(0, 0, 10, 10));
  auto a = animator(0);
  a->animateTranslation(sheet, Point{});
  a->animateAlpha(gone, 0);
  gone->removeFromSuperview();
  gone.reset();
  a->start();
  EXPECT_EQ(sheet->translation(), (Point{}));
  EXPECT_TRUE(completions.empty()) << "never inline";
  port().settle();
  EXPECT_EQ(completions, std::vector<bool>{true});
}

TEST_P(Animations, StoppingLeavesTheViewsWhereTheyAreAndCompletesUnfinished) {
  auto view = addView(Rect(0, 0, 100, 100));
  view->setAlpha(0);
  auto a = animator(1);
  a->animateAlpha(view, 1);
  a->start();
  port().runFor(0.1);
  a->stop();
  const double stoppedAt = view->alpha();
  EXPECT_LT(stoppedAt, 1);
  EXPECT_FALSE(a->isRunning());
  ASSERT_TRUE(port().runUntil([&] { return !completions.empty(); }));
  port().runFor(1);
  EXPECT_EQ(view->alpha(), stoppedAt);
  a->stop();
  EXPECT_EQ(completions, std::vector<bool>{false});
}

TEST_P(Animations, ARootSwapFadesTheNewRootInAndCompletesAfterward) {
  auto window = port().window();
  auto old = port().root();
  auto next = port().ui().makeViewController(ViewControllerKind::plain);
  int done = 0;
  window->transitionToRootViewController(next, 0.3, [&] { ++done; });
  EXPECT_EQ(window->rootViewController(), next);
  EXPECT_EQ(done, 0) << "never inline";
  port().settle();
  EXPECT_EQ(next->view()->window(), window);
  EXPECT_LT(next->view()->alpha(), 1);
  ASSERT_TRUE(port().runUntil([&] { return done > 0; }));
  EXPECT_EQ(next->view()->alpha(), 1);
  EXPECT_EQ(next->view()->frame(), window->bounds());
  EXPECT_EQ(old->view()->window(), nullptr);
  port().runFor(0.3);
  EXPECT_EQ(done, 1);

  // Input reaches the new root's content.
  auto button = addView(Rect(10, 10, 80, 40));
  int taps = 0;
  button->addTapHandler([&] { ++taps; });
  port().tap(*button, Point{40, 20});
  EXPECT_EQ(taps, 1);
}

}  // namespace
}  // namespace orvex::conformance
