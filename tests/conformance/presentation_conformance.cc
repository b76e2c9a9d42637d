// Presentation and alerts (orvex/platform/view.h, alert.h): a full-screen screen covers the
// window's content with the platform's appearance events, and an alert's chosen action runs once
// the alert is gone.
#include <string>
#include <vector>

#include "orvex/platform/alert.h"
#include "orvex/web/link_opener.h"
#include "tests/conformance/port_harness.h"

namespace orvex::conformance {
namespace {

using Strings = std::vector<std::string>;

struct Appearance : AppearanceObserver {
  Appearance(std::string n, Strings* l) : name(std::move(n)), log(l) {}
  void viewWillAppear(bool) override { log->push_back(name + " willAppear"); }
  void viewDidAppear(bool) override { log->push_back(name + " didAppear"); }
  void viewWillDisappear(bool) override { log->push_back(name + " willDisappear"); }
  void viewDidDisappear(bool) override { log->push_back(name + " didDisappear"); }
  std::string name;
  Strings* log;
};

class Presentation : public PortTest {};
ORVEX_CONFORMANCE_AREA(Presentation);

TEST_P(Presentation, FullScreenCoversTheContentUntilDismissedWithAppearanceEventsInOrder) {
  auto window = port().window();
  auto root = port().root();
  auto content = addView(Rect(0, 0, 100, 100));
  Strings log;
  auto rootEvents = std::make_shared<Appearance>("root", &log);
  auto screenEvents = std::make_shared<Appearance>("screen", &log);
  root->setAppearanceObserver(rootEvents);
  auto screen = port().ui().makeViewController(ViewControllerKind::plain);
  screen->setAppearanceObserver(screenEvents);
  screen->setPresentationStyle(PresentationStyle::fullScreen);
  bool presented = false;
  root->present(screen, true, [&] { presented = true; });
  root->present(port().ui().makeViewController(ViewControllerKind::plain), false, {});  // refused
  EXPECT_FALSE(presented) << "completions never run inline";
  EXPECT_EQ(content->window(), window) << "covered content stays until the transition ends";
  ASSERT_TRUE(port().runUntil([&] { return presented; }));
  EXPECT_EQ(content->window(), nullptr);
  EXPECT_TRUE(screen->isViewVisible());
  EXPECT_EQ(root->presentedViewController(), screen);
  EXPECT_EQ(screen->presentingViewController(), root);
  EXPECT_EQ(topMostViewController(), screen);

  // The screen is what input reaches now.
  auto button = addView(Rect(10, 10, 80, 40), screen->view());
  int taps = 0;
  button->addTapHandler([&] { ++taps; });
  port().tap(*button, Point{40, 20});
  EXPECT_EQ(taps, 1);

  bool dismissed = false;
  screen->dismiss(false, [&] { dismissed = true; });
  EXPECT_EQ(content->window(), window) << "the content comes back as dismissal begins";
  ASSERT_TRUE(port().runUntil([&] { return dismissed; }));
  EXPECT_EQ(root->presentedViewController(), nullptr);
  EXPECT_EQ(screen->view()->window(), nullptr);
  EXPECT_EQ(topMostViewController(), root);
  EXPECT_EQ(log, (Strings{"screen willAppear", "root willDisappear", "screen didAppear",
                          "root didDisappear", "screen willDisappear", "root willAppear",
                          "screen didDisappear", "root didAppear"}));

  // A controller whose view is in no window presents nothing.
  auto offscreen = port().ui().makeViewController(ViewControllerKind::plain);
  offscreen->present(port().ui().makeViewController(ViewControllerKind::plain), false, {});
  port().settle();
  EXPECT_EQ(offscreen->presentedViewController(), nullptr);
}

TEST_P(Presentation, AnAlertShowsOverTheContentAndRunsTheChosenActionAfterItIsGone) {
  auto window = port().window();
  auto root = port().root();
  auto content = addView(Rect(0, 0, 100, 100));
  Strings heard;
  auto alert = port().ui().makeAlertController(std::string("Offline"), std::string("Try again?"));
  ASSERT_TRUE(alert);
  alert->addAction({"Retry", AlertActionStyle::standard, [&] { heard.push_back("retry"); }});
  alert->addAction({"Cancel", AlertActionStyle::cancel, [&] {
                      heard.push_back(root->presentedViewController() ? "cancel while shown"
                                                                      : "cancel");
                    }});
  EXPECT_EQ(alert->actionCount(), 2u);
  alert->setPresentationStyle(PresentationStyle::fullScreen);  // alerts never cover the content
  bool shown = false;
  root->present(alert, true, [&] { shown = true; });
  ASSERT_TRUE(port().runUntil([&] { return shown; }));
  EXPECT_EQ(root->presentedViewController(), alert);
  EXPECT_EQ(content->window(), window);
  EXPECT_FALSE(port().chooseAlertAction("Nope"));
  EXPECT_TRUE(port().chooseAlertAction("Cancel"));
  EXPECT_TRUE(heard.empty()) << "the handler waits for the dismissal";
  ASSERT_TRUE(port().runUntil([&] { return !heard.empty(); }));
  port().runFor(0.4);
  EXPECT_EQ(heard, Strings{"cancel"});
  EXPECT_EQ(root->presentedViewController(), nullptr);
  EXPECT_EQ(alert->view()->window(), nullptr);
}

}  // namespace
}  // namespace orvex::conformance
