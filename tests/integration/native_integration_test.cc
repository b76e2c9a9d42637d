// The README's native ad screen on the real-time headless port over libcurl against the local ad
// service: its fixture, media page, decoded icon, impression and click as a host would meet them.
#ifdef ORVEX_ADSERVER_FIXTURES

#include <gtest/gtest.h>

#include "examples/embed/native_example.h"
#include "orvex/core/orvex_config.h"
#include "orvex/web/native_ad_web_view_controller.h"
#include "ports/headless/headless_user_interface.h"
#include "ports/headless/headless_web_view.h"
#include "ports/linux/curl_http_client.h"
#include "tests/support/test_sdk.h"
#include "tools/adserver/ad_server.h"

namespace orvex {
namespace {

using testing_support::TempDir;
using testing_support::TestSdk;
using testing_support::TestSdkOptions;

TEST(NativeIntegration, MediaIconImpressionAndClickAgainstTheLocalService) {
  adserver::Options serverOptions;
  serverOptions.fixtures = ORVEX_ADSERVER_FIXTURES;
  serverOptions.appKeys = {testing_support::kTestAppKey};
  adserver::AdServer server(serverOptions);
  std::string error;
  ASSERT_TRUE(server.start(&error)) << error;
  TempDir dir;
  TestSdkOptions options;
  options.time = headless::TimeMode::real;
  std::filesystem::create_directories(dir.path() / "downloads");
  options.http = std::make_shared<linux_port::CurlHttpClient>(dir.path() / "downloads");
  options.deployment.adServerBase = server.baseUrl();
  options.deployment.apiServerBase = server.baseUrl();
  TestSdk sdk(dir.path(), options);
  auto& port = sdk.port();
  Orvex::initialize(false, false);
  ASSERT_TRUE(port.runUntil([] { return Orvex::shared().config().lastConfigAt() > 0; }, 10));

  // The README's host screen, as written.
  auto window = port.ui->makeKeyWindowWithRootController();
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
  ASSERT_TRUE(port.runUntil(
      [&] {
        for (const auto& r : server.requests())
          if (r.body.find("AD_CLICK") != std::string::npos) return true;
        return false;
      },
      10));
  server.stop();
}

}  // namespace
}  // namespace orvex

#endif  // ORVEX_ADSERVER_FIXTURES
