// A banner on the real-time headless port over libcurl against the local ad service: the whole
// path a host sees, from load() to the service's records of the impression and the click.
#ifdef ORVEX_ADSERVER_FIXTURES

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "orvex/core/orvex_config.h"
#include "orvex/formats/inline/orvex_banner.h"
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

// "KEY value" of each metric the service recorded, in arrival order.
std::vector<std::string> recordedMetrics(const adserver::AdServer& server) {
  std::vector<std::string> out;
  for (const auto& r : server.requests()) {
    if (r.operation != "invoke") continue;
    const std::string q = nlohmann::json::parse(r.body).at("query").get<std::string>();
    auto field = [&](const std::string& name) {
      const auto at = q.find(name + ": \"") + name.size() + 3;
      return q.substr(at, q.find('"', at) - at);
    };
    out.push_back(field("key") + " " + field("value"));
  }
  return out;
}

TEST(BannerIntegration, LoadShowImpressionAndClickAgainstTheLocalService) {
  adserver::Options serverOptions;
  serverOptions.fixtures = ORVEX_ADSERVER_FIXTURES;
  serverOptions.appKeys = {testing_support::kTestAppKey};
  adserver::AdServer server(serverOptions);
  std::string error;
  ASSERT_TRUE(server.start(&error)) << error;

  TempDir dir;
  TestSdkOptions options;
  options.time = headless::TimeMode::real;
  options.http = std::make_shared<linux_port::CurlHttpClient>(dir.path() / "downloads");
  options.deployment.adServerBase = server.baseUrl();
  options.deployment.apiServerBase = server.baseUrl();
  options.deployment.playerScriptCdnBase = server.baseUrl() + "/cdn/player@";
  TestSdk sdk(dir.path(), options);
  auto& port = sdk.port();
  Orvex::initialize(false, false);
  ASSERT_TRUE(port.runUntil([] { return Orvex::shared().config().lastConfigAt() > 0; }, 10));

  auto window = port.ui->makeKeyWindowWithRootController();
  auto banner = OrvexBanner::create("demo-banner", "ctx");
  std::vector<std::string> heard;
  banner->onAdReceived = [&](OrvexBanner&) { heard.push_back("received"); };
  banner->onAdFailedToReceive = [&](OrvexBanner&, OrvexErrorCode code) {
    heard.push_back("failed " + OrvexErrorCodeToString(code));
  };
  banner->onAdImpression = [&](OrvexBanner&) { heard.push_back("impression"); };
  banner->onAdClicked = [&](OrvexBanner&) { heard.push_back("clicked"); };
  window->rootViewController()->view()->addSubview(banner->view());
  banner->view()->setFrame(Rect(35, 200, 320, 50));
  banner->load();
  ASSERT_TRUE(port.runUntil([&] { return heard.size() >= 2; }, 10));
  ASSERT_EQ(heard, (std::vector<std::string>{"received", "impression"}));
  EXPECT_EQ(banner->campaignId(), "banner-1");

  // Reports travel on separate exchanges; a user's tap comes after the impression arrived.
  ASSERT_TRUE(port.runUntil([&] { return recordedMetrics(server).size() == 1; }, 10));
  port.webViews->last()->activateLink("https://advertiser.example/landing");
  // The report and the host's callback travel separately; wait for both.
  ASSERT_TRUE(port.runUntil(
      [&] { return recordedMetrics(server).size() >= 2 && !port.ui->openedLinks().empty(); }, 10));
  EXPECT_EQ(heard, (std::vector<std::string>{"received", "impression", "clicked"}));
  const std::string value = banner->txId() + "@demo-banner";
  EXPECT_EQ(recordedMetrics(server),
            (std::vector<std::string>{"AD_IMPR " + value, "AD_CLICK " + value}));
  ASSERT_EQ(port.ui->openedLinks().size(), 1u);
  EXPECT_EQ(port.ui->openedLinks()[0].target, "https://advertiser.example/landing");
  server.stop();
}

}  // namespace
}  // namespace orvex

#endif  // ORVEX_ADSERVER_FIXTURES
