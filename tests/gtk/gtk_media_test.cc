// The desktop port's media: the shared contract over GStreamer with the local service's real
// video (a file URL, no network), and the rewarded screen's layering: the video's frames show
// through a transparent page above it.
#include <gtest/gtest.h>

#include <vector>

#include "ports/gtk/gtk_port.h"
#include "ports/gtk/gtk_user_interface.h"
#include "ports/gtk/gtk_view.h"
#include "tests/gtk/gtk_test_support.h"
#include "tests/support/media_contract.h"

namespace orvex {
namespace {

using gtk_testing::GtkTestSdk;
using gtk_testing::PageRecorder;
using testing_support::TempDir;

const std::string kVideoFile =
    std::string(ORVEX_SOURCE_DIR) + "/tools/adserver/fixtures/static/video.webm";

struct GtkDriver {
  static bool available() { return gtk_testing::haveDisplay(); }
  Media& media() { return *sdk_.port().platform.media; }
  Dispatcher& dispatcher() { return *sdk_.port().platform.dispatcher; }
  bool runUntil(const std::function<bool()>& done, double timeoutSeconds) {
    return sdk_.runUntil(done, timeoutSeconds);
  }
  void runFor(double seconds) { sdk_.runFor(seconds); }
  std::string videoUrl() { return "file://" + kVideoFile; }
  std::string missingUrl() { return "file://" + (dir_.path() / "missing.webm").string(); }

  TempDir dir_;
  GtkTestSdk sdk_{dir_.path()};
};

// The widget as drawn now, as premultiplied BGRA bytes.
std::vector<guchar> pixelsOf(GtkWidget* widget) {
  const int width = gtk_widget_get_width(widget), height = gtk_widget_get_height(widget);
  GskRenderer* renderer = gtk_native_get_renderer(gtk_widget_get_native(widget));
  if (width <= 0 || height <= 0 || !renderer) return {};
  auto paintable = gtk::GObjectPtr<GdkPaintable>::adopt(gtk_widget_paintable_new(widget));
  GtkSnapshot* snapshot = gtk_snapshot_new();
  gdk_paintable_snapshot(paintable.get(), snapshot, width, height);
  GskRenderNode* node = gtk_snapshot_free_to_node(snapshot);
  if (!node) return {};
  const graphene_rect_t viewport =
      GRAPHENE_RECT_INIT(0, 0, static_cast<float>(width), static_cast<float>(height));
  auto texture =
      gtk::GObjectPtr<GdkTexture>::adopt(gsk_renderer_render_texture(renderer, node, &viewport));
  gsk_render_node_unref(node);
  std::vector<guchar> pixels(static_cast<std::size_t>(width) * height * 4);
  gdk_texture_download(texture.get(), pixels.data(), static_cast<gsize>(width) * 4);
  return pixels;
}

TEST(GtkMedia, TheVideoPlaysBeneathATransparentPage) {
  ORVEX_REQUIRE_DISPLAY();
  GtkDriver port;
  auto window = port.sdk_.port().ui->makeWindow();
  window->makeKeyAndVisible();
  auto root = port.sdk_.port().ui->makeView();
  window->addSubview(root);
  root->setFrame(Rect(0, 0, 320, 180));
  auto video = port.media().makeVideoView();
  root->addSubview(video);
  video->setFillsSuperview(true);
  auto page = port.sdk_.port().ui->makeWebView(WebViewConfiguration{});
  root->addSubview(page);
  page->setFillsSuperview(true);
  page->setOpaque(false);
  auto recorder = std::make_shared<PageRecorder>();
  page->setNavigationDelegate(recorder);
  page->loadHTMLString("<html><body><p>Reward in 5</p></body></html>");
  auto player = port.media().makePlayer(port.videoUrl());
  video->setPlayer(player);
  player->play();
  ASSERT_TRUE(port.runUntil([&] { return recorder->count("finish") && player->isPlaying(); }, 15));
  port.runFor(0.5);

  GtkWidget* drawn = gtk::widgetOf(*root);
  const auto first = pixelsOf(drawn);
  port.runFor(1.0);
  const auto second = pixelsOf(drawn);
  ASSERT_FALSE(first.empty());
  EXPECT_NE(first, second) << "the frames did not change under the page";

  // An opaque page hides the video: nothing changes any more.
  page->setOpaque(true);
  port.runFor(0.3);
  const auto covered = pixelsOf(drawn);
  port.runFor(0.5);
  EXPECT_EQ(covered, pixelsOf(drawn));
}

}  // namespace
}  // namespace orvex

namespace orvex::media_contract {
INSTANTIATE_TYPED_TEST_SUITE_P(GtkMedia, MediaContract, GtkDriver);
}
