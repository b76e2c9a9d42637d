// The desktop port's media beyond the port contract (tests/conformance/media_conformance.cc): the
// rewarded screen's layering, where the video's frames show through a transparent page above it.
#include <gtest/gtest.h>

#include <vector>

#include "orvex/platform/media.h"
#include "ports/gtk/gtk_port.h"
#include "ports/gtk/gtk_user_interface.h"
#include "ports/gtk/gtk_view.h"
#include "tests/gtk/gtk_test_support.h"

namespace orvex {
namespace {

using gtk_testing::GtkTestSdk;
using gtk_testing::PageRecorder;
using gtk_testing::pixelsOf;
using testing_support::TempDir;

TEST(GtkMedia, TheVideoPlaysBeneathATransparentPage) {
  ORVEX_REQUIRE_DISPLAY();
  TempDir dir;
  GtkTestSdk sdk(dir.path());
  auto& port = sdk.port();
  auto window = port.ui->makeWindow();
  window->makeKeyAndVisible();
  auto root = port.ui->makeView();
  window->addSubview(root);
  root->setFrame(Rect(0, 0, 320, 180));
  auto video = port.platform.media->makeVideoView();
  root->addSubview(video);
  video->setFillsSuperview(true);
  auto page = port.ui->makeWebView(WebViewConfiguration{});
  root->addSubview(page);
  page->setFillsSuperview(true);
  page->setOpaque(false);
  auto recorder = std::make_shared<PageRecorder>();
  page->setNavigationDelegate(recorder);
  page->loadHTMLString("<html><body><p>Reward in 5</p></body></html>");
  auto player = port.platform.media->makePlayer("file://" + std::string(ORVEX_SOURCE_DIR) +
                                                "/tools/adserver/fixtures/static/video.webm");
  video->setPlayer(player);
  player->play();
  ASSERT_TRUE(sdk.runUntil([&] { return recorder->count("finish") && player->isPlaying(); }, 15));
  sdk.runFor(0.5);

  GtkWidget* drawn = gtk::widgetOf(*root);
  const auto first = pixelsOf(drawn);
  sdk.runFor(1.0);
  const auto second = pixelsOf(drawn);
  ASSERT_FALSE(first.empty());
  EXPECT_NE(first, second) << "the frames did not change under the page";

  // An opaque page hides the video: nothing changes any more.
  page->setOpaque(true);
  sdk.runFor(0.3);
  // A snapshot may come back empty while the page restyles; take the next drawn one.
  auto drawnNow = [&] {
    std::vector<guchar> pixels;
    sdk.runUntil([&] { return !(pixels = pixelsOf(drawn)).empty(); }, 5);
    return pixels;
  };
  const auto covered = drawnNow();
  sdk.runFor(0.5);
  ASSERT_FALSE(covered.empty());
  EXPECT_EQ(covered, drawnNow());
}

}  // namespace
}  // namespace orvex
