// The README's native ad screen on the real-time headless port over libcurl against the local ad
// service: its fixture, media page, decoded icon, impression and click as a host would meet them.
#ifdef ORVEX_ADSERVER_FIXTURES

#include <gtest/gtest.h>

#include "examples/embed/native_example.h"
#include "orvex/web/native_ad_web_view_controller.h"
#include "ports/headless/headless_web_view.h"
#include "tests/support/local_service.h"

namespace orvex {
namespace {

using NativeIntegration = testing_support::LocalServiceFlow;

TEST_F(NativeIntegration, MediaIconImpressionAndClickAgainstTheLocalService) {
  startService(headless::TimeMode::real);
  auto& port = this->port();
  const auto& server = *server_;

  // The README's host screen, as written.
  auto window = window_;
  auto screen = std::make_shared<example::ArticleScreen>();
  screen->showNativeAd(window->rootViewController()->view(), *port.ui, "demo-native");
  ASSERT_TRUE(port.runUntil([&] { return !screen->heard.empty(); }, 10));
  ASSERT_TRUE(screen->heard[0].starts_with("received local:")) << screen->heard[0];
  auto controller = screen->ad()->nativeAdViewController();
  auto page = std::dynamic_pointer_cast<headless::HeadlessWebView>(controller->webView());
  ASSERT_TRUE(page && page->loadedHTML());
  EXPECT_NE(page->loadedHTML()->find(server.baseUrl() + "/static/cover.png"), std::string::npos);
  EXPECT_EQ(screen->ad()->accountTag().count("tier"), 1u);
  ASSERT_TRUE(port.runUntil([&] { return screen->icon->image().has_value(); }, 10));
  EXPECT_EQ(screen->icon->image()->pixelWidth, 1);  // the service's PNG, decoded

  port.runFor(1);  // on screen for the impression
  const Rect cta = screen->callToAction->convertRect(screen->callToAction->bounds(), *window);
  headless::headlessView(*window).tap(Point{cta.minX() + 5, cta.minY() + 5});
  ASSERT_TRUE(port.runUntil([&] { return screen->heard.size() >= 2; }, 10));
  EXPECT_EQ(screen->heard[1], "clicked https://advertiser.example/landing");
  ASSERT_EQ(port.ui->openedLinks().size(), 1u);
  EXPECT_EQ(port.ui->openedLinks()[0].kind, headless::OpenedLink::Kind::inAppBrowser);
  EXPECT_TRUE(recorded("AD_CLICK"));
}

}  // namespace
}  // namespace orvex

#endif  // ORVEX_ADSERVER_FIXTURES
