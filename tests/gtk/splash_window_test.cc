// The splash launch screen in a real window against the local ad service: the ad image is drawn
// fitted and centred over the launch background, then the window cross-dissolves to the feed.
#include <gtest/gtest.h>

#include "examples/demo/gtk_screen.h"
#include "examples/demo/splash_flow.h"
#include "orvex/core/orvex.h"
#include "orvex/core/orvex_config.h"
#include "tests/gtk/gtk_test_support.h"
#include "tools/adserver/ad_server.h"

namespace orvex {
namespace {

using gtk_testing::closeColours;
using gtk_testing::GtkTestSdk;
using gtk_testing::pixelAt;
using testing_support::TempDir;

TEST(SplashInAWindow, TheAdIsDrawnFittedOverTheLaunchScreenThenTheFeedComesBack) {
  ORVEX_REQUIRE_DISPLAY();
  TempDir dir;
  adserver::Options o;
  o.fixtures = ORVEX_ADSERVER_FIXTURES;
  o.appKeys = {testing_support::kTestAppKey};
  adserver::AdServer server(o);
  ASSERT_TRUE(server.start());
  OrvexDeployment d;
  d.adServerBase = d.apiServerBase = server.baseUrl();
  d.playerScriptCdnBase = server.baseUrl() + "/cdn/player@";
  auto sdk = std::make_unique<GtkTestSdk>(dir.path(), d);
  Orvex::initialize(false, false);
  ASSERT_TRUE(sdk->runUntil([] { return Orvex::shared().config().lastConfigAt() > 0; }));
  auto screen = demo::makeGtkScreen(sdk->port());

  demo::FlowOptions options;
  options.unitId = "demo-splash";
  options.screenshot = (dir.path() / "launch.png").string();
  demo::Timeline timeline;
  EXPECT_EQ(demo::runSplashFlow(*screen, timeline, options), "");

  // The 320 x 480 creative fitted to the window's width, centred; the launch background above.
  const Rect window = screen->window()->bounds();
  const double height = window.size.width * 480 / 320;
  const int top = static_cast<int>((window.size.height - height) / 2);
  const int midX = static_cast<int>(window.size.width / 2),
            midY = static_cast<int>(window.size.height / 2);
  ASSERT_GT(top, 10);
  EXPECT_TRUE(closeColours(pixelAt(options.screenshot, 10, top / 2), 0x10243C));
  EXPECT_TRUE(closeColours(pixelAt(options.screenshot, 10, top + 10), 0x1E78DC));
  EXPECT_TRUE(closeColours(pixelAt(options.screenshot, midX, midY), 0xFFD24A));  // the ball

  const std::string after = (dir.path() / "feed.png").string();
  screen->runFor(0.3);  // a frame of the feed drawn again
  ASSERT_TRUE(screen->screenshot(after));
  EXPECT_FALSE(closeColours(pixelAt(after, 10, top + 10), 0x1E78DC));
  screen.reset();
  sdk.reset();
  server.stop();
}

}  // namespace
}  // namespace orvex
