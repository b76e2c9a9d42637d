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

struct Events : AppearanceObserver {
  std::string name;
  std::vector<std::string>* log;
  Events(std::string n, std::vector<std::string>* l) : name(std::move(n)), log(l) {}
  void viewWillAppear(bool) override { log->push_back(name + " willAppear"); }
  void viewDidAppear(bool) override { log->push_back(name + " didAppear"); }
  void viewWillDisappear(bool) override { log->push_back(name + " willDisappear"); }
  void viewDidDisappear(bool) override { log->push_back(name + " didDisappear"); }
};

// A key window with a root controller on a fresh SDK.
class HeadlessScreen : public ::testing::Test {
 protected:
  TempDir dir;
  TestSdk sdk{dir.path()};
  HeadlessUserInterface& ui = *sdk.port().ui;
  std::shared_ptr<HeadlessWindow> window = ui.makeKeyWindowWithRootController();
};

TEST_F(HeadlessScreen, GeometryConvertsThroughScrollingAncestorsAndWindows) {
  auto root = window->rootViewController()->view();
  EXPECT_EQ(root->frame(), Rect(0, 0, 390, 844));
  auto feed = ui.makeView();
  auto ad = ui.makeView();
  root->addSubview(feed);
  feed->setFrame(Rect(10, 100, 300, 500));
  feed->addSubview(ad);
  ad->setFrame(Rect(5, 400, 100, 50));
  feed->setBoundsOrigin(Point{0, 300});
  EXPECT_EQ(ad->convertRect(ad->bounds(), *window), Rect(15, 200, 100, 50));
  EXPECT_EQ(window->convertRect(Rect(15, 200, 1, 1), *ad), Rect(0, 0, 1, 1));
  EXPECT_EQ(ad->window(), window);
  // A view cannot be made its own ancestor.
  ad->addSubview(feed);
  EXPECT_EQ(feed->superview(), root);

  // Hit testing: the topmost interactive view, pass-through lets the touch to what is beneath.
  int feedTaps = 0, adTaps = 0;
  feed->addTapHandler([&] { ++feedTaps; });
  ad->addTapHandler([&] { ++adTaps; });
  EXPECT_TRUE(window->tap(Point{20, 210}));
  bool passThrough = true;
  ad->setHitTestPassThrough([&](HitTestEvent) { return passThrough; });
  window->tap(Point{20, 210});
  ad->setUserInteractionEnabled(true);
  passThrough = false;
  ad->setHidden(true);
  window->tap(Point{20, 210});
  EXPECT_EQ(adTaps, 1);
  EXPECT_EQ(feedTaps, 2);
  EXPECT_FALSE(window->tap(Point{380, 10}));
}

TEST_F(HeadlessScreen, FullScreenPresentationTakesTheCoveredContentOutAndBack) {
  auto root = window->rootViewController();
  auto content = ui.makeView();
  root->view()->addSubview(content);
  std::vector<std::string> log;
  auto rootEvents = std::make_shared<Events>("root", &log);
  auto modalEvents = std::make_shared<Events>("modal", &log);
  root->setAppearanceObserver(rootEvents);
  auto modal = ui.makeViewController(ViewControllerKind::plain);
  modal->setAppearanceObserver(modalEvents);
  modal->setPresentationStyle(PresentationStyle::fullScreen);
  bool presented = false;
  root->present(modal, true, [&] { presented = true; });
  root->present(ui.makeViewController(ViewControllerKind::plain), false, {});  // refused
  EXPECT_EQ(content->window(), window);
  sdk.advance(0.29);
  EXPECT_FALSE(presented);
  sdk.advance(0.02);
  EXPECT_TRUE(presented);
  EXPECT_EQ(content->window(), nullptr);
  EXPECT_EQ(root->presentedViewController(), modal);
  EXPECT_EQ(modal->presentingViewController(), root);

  modal->dismiss(false, {});
  EXPECT_EQ(content->window(), window);
  sdk.advance(0.01);
  EXPECT_EQ(root->presentedViewController(), nullptr);
  EXPECT_EQ(modal->view()->window(), nullptr);
  EXPECT_EQ(log,
            (std::vector<std::string>{"modal willAppear", "root willDisappear", "modal didAppear",
                                      "root didDisappear", "modal willDisappear", "root willAppear",
                                      "modal didDisappear", "root didAppear"}));

  // A controller whose view is not in a window presents nothing.
  auto offscreen = ui.makeViewController(ViewControllerKind::plain);
  offscreen->present(ui.makeViewController(ViewControllerKind::plain), false, {});
  EXPECT_EQ(offscreen->presentedViewController(), nullptr);
}

TEST_F(HeadlessScreen, SizeRulesFollowFramesAndFillingAndTapsKnowWhereTheyLanded) {
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

  // Located handlers get the tap in their own view's coordinates, plain ones still run.
  std::vector<Point> taps;
  int plain = 0;
  const int token = media->addLocatedTapHandler([&](Point p) { taps.push_back(p); });
  page->setUserInteractionEnabled(false);  // the tap falls to the media view
  headlessView(*window).tap(Point{25, 110});
  media->setBoundsOrigin(Point{0, 30});  // scrolled content
  headlessView(*window).tap(Point{25, 110});
  media->removeTapHandler(token);
  media->addTapHandler([&] { ++plain; });
  headlessView(*window).tap(Point{25, 110});
  EXPECT_EQ(taps, (std::vector<Point>{{15, 10}, {15, 40}}));
  EXPECT_EQ(plain, 1);
}

TEST_F(HeadlessScreen, AlertsSpinnersAndHapticsArePlayedAndRecorded) {
  auto root = window->rootViewController();
  auto content = ui.makeView();
  root->view()->addSubview(content);

  auto spinner = ui.makeActivityIndicator();
  EXPECT_TRUE(spinner->isHidden());
  spinner->startAnimating();
  EXPECT_FALSE(spinner->isHidden());

  std::vector<std::string> heard;
  auto alert = ui.makeAlertController(std::nullopt, std::string("Gone"));
  alert->addAction({"Retry", AlertActionStyle::standard, [&] { heard.push_back("retry"); }});
  alert->addAction({"Cancel", AlertActionStyle::cancel, [&] {
                      heard.push_back("cancel after dismissal: " +
                                      std::string(root->presentedViewController() ? "no" : "yes"));
                    }});
  alert->setPresentationStyle(PresentationStyle::fullScreen);  // alerts never cover the content
  root->present(alert, true, {});
  auto shown = ui.visibleAlert();
  ASSERT_TRUE(shown);
  EXPECT_FALSE(shown->choose("Cancel"));  // not on screen yet
  sdk.advance(0.3);
  EXPECT_EQ(content->window(), window);
  EXPECT_FALSE(shown->choose("Nope"));
  EXPECT_TRUE(shown->choose("Cancel"));
  EXPECT_FALSE(shown->choose(0));  // one button per presentation
  EXPECT_TRUE(heard.empty());
  sdk.advance(0.3);
  EXPECT_EQ(heard, (std::vector<std::string>{"cancel after dismissal: yes"}));
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
