// The README's interstitial and rewarded screens on the headless port in virtual time, over
// libcurl against the local ad service's fixtures; the pages' messages are played as their
// handlers post them.
#ifdef ORVEX_ADSERVER_FIXTURES

#include <gtest/gtest.h>

#include "examples/embed/interstitial_example.h"
#include "examples/embed/rewarded_example.h"
#include "orvex/core/orvex_config.h"
#include "ports/headless/headless_media.h"
#include "ports/headless/headless_user_interface.h"
#include "ports/headless/headless_web_view.h"
#include "ports/linux/curl_http_client.h"
#include "tests/support/test_sdk.h"
#include "tools/adserver/ad_server.h"

namespace orvex {
namespace {

using headless::HeadlessWebView;
using testing_support::TempDir;
using testing_support::TestSdk;
using testing_support::TestSdkOptions;
using Events = std::vector<std::string>;

class FullScreenIntegration : public ::testing::Test {
 protected:
  void SetUp() override {
    adserver::Options serverOptions;
    serverOptions.fixtures = ORVEX_ADSERVER_FIXTURES;
    serverOptions.appKeys = {testing_support::kTestAppKey};
    server_ = std::make_unique<adserver::AdServer>(serverOptions);
    ASSERT_TRUE(server_->start());
    TestSdkOptions options;
    options.http = std::make_shared<linux_port::CurlHttpClient>();
    options.deployment.adServerBase = options.deployment.apiServerBase = server_->baseUrl();
    sdk_ = std::make_unique<TestSdk>(dir_.path(), options);
    Orvex::initialize(false, false);
    ASSERT_TRUE(port().runUntil([] { return Orvex::shared().config().lastConfigAt() > 0; }, 10));
    root_ = port().ui->makeKeyWindowWithRootController()->rootViewController();
  }
  void TearDown() override {
    if (server_) server_->stop();
  }
  headless::HeadlessPort& port() { return sdk_->port(); }
  bool recorded(const std::string& metric) {
    return port().runUntil(
        [&] {
          for (const auto& r : server_->requests())
            if (r.body.find(metric) != std::string::npos) return true;
          return false;
        },
        10);
  }

  TempDir dir_;
  std::unique_ptr<adserver::AdServer> server_;
  std::unique_ptr<TestSdk> sdk_;
  std::shared_ptr<ViewController> root_;
};

TEST_F(FullScreenIntegration, TheReadmeLevelScreenShowsAnInterstitialBetweenLevels) {
  auto level = std::make_shared<example::LevelScreen>();
  EXPECT_FALSE(level->levelFinished(root_));  // nothing loaded: the game goes on
  level->prepareInterstitial("demo-interstitial");
  ASSERT_TRUE(port().runUntil([&] { return !level->heard.empty(); }, 10));
  ASSERT_TRUE(level->heard[0].starts_with("received local:")) << level->heard[0];
  const auto shown = level->ad();
  ASSERT_TRUE(level->levelFinished(root_));
  port().runFor(1);
  EXPECT_EQ(root_->presentedViewController(), shown->screen()->viewController());

  auto page = std::dynamic_pointer_cast<HeadlessWebView>(shown->screen()->webView());
  page->postMessageJSON("orvex", R"({"action":"open","url":"https://advertiser.example/landing"})");
  port().runFor(0.5);
  page->postMessageJSON("orvex", R"({"action":"close"})");
  ASSERT_TRUE(port().runUntil([&] { return level->heard.size() == 3; }, 10));
  EXPECT_EQ(level->heard[1], "dismissed");
  EXPECT_TRUE(level->heard[2].starts_with("received ")) << "the next break's ad";
  EXPECT_NE(level->ad(), shown);
  EXPECT_EQ(root_->presentedViewController(), nullptr);
  ASSERT_EQ(port().ui->openedLinks().size(), 1u);
  EXPECT_EQ(port().ui->openedLinks()[0].target, "https://advertiser.example/landing");
  EXPECT_TRUE(recorded("AD_IMPR"));
  EXPECT_TRUE(recorded("AD_CLICK"));
}

TEST_F(FullScreenIntegration, TheReadmeShopScreenPaysForAWholeVideo) {
  const std::string video = server_->baseUrl() + "/static/video.webm";
  port().media->registerItem(video, headless::HeadlessMediaItem{5.0, 30});
  auto shop = std::make_shared<example::ShopScreen>();
  shop->loadRewardedAd("demo-rewarded");
  ASSERT_TRUE(port().runUntil([&] { return !shop->heard.empty(); }, 10));
  ASSERT_TRUE(shop->watchButtonShown) << shop->heard[0];
  const auto screen = shop->ad()->screen();
  EXPECT_EQ(screen->videoURL(), video);  // the fixture's page names the service's own video

  shop->watchForCoinsTapped(root_);
  port().runFor(6);
  EXPECT_EQ(screen->fsm()->state, OrvexRewardedAdState::finished);
  auto page = std::dynamic_pointer_cast<HeadlessWebView>(screen->webView());
  Events told;
  for (const auto& s : page->evaluatedScripts())
    if (s.starts_with("updateRemainingTime(")) told.push_back(s);
  EXPECT_EQ(told,
            (Events{"updateRemainingTime(4)", "updateRemainingTime(3)", "updateRemainingTime(2)",
                    "updateRemainingTime(1)", "updateRemainingTime(0)"}));
  // What the fixture's page posts when its countdown reaches 0, then its close button.
  page->postMessageJSON("orvex", R"({"action":"reward","type":1,"amount":10})");
  page->postMessageJSON("orvex", R"({"action":"close"})");
  ASSERT_TRUE(port().runUntil([&] { return shop->heard.size() == 3; }, 10));
  EXPECT_EQ(shop->heard[1], "reward 1 x10");
  EXPECT_EQ(shop->heard[2], "dismissed");
  EXPECT_EQ(shop->coins, 10);
  EXPECT_TRUE(recorded("AD_IMPR"));
}

}  // namespace
}  // namespace orvex

#endif  // ORVEX_ADSERVER_FIXTURES
