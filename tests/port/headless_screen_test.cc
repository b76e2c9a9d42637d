#include "ports/headless/headless_user_interface.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

TEST(HeadlessScreen, GeometryConvertsThroughScrollingAncestorsAndWindows) {
  TempDir dir;
  TestSdk sdk(dir.path());
  auto& ui = *sdk.port().ui;
  auto window = ui.makeKeyWindowWithRootController();
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

TEST(HeadlessScreen, FullScreenPresentationTakesTheCoveredContentOutAndBack) {
  TempDir dir;
  TestSdk sdk(dir.path());
  auto& ui = *sdk.port().ui;
  auto window = ui.makeKeyWindowWithRootController();
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

}  // namespace
}  // namespace orvex::headless
