// The README's interstitial, rewarded and popup screens on the headless port in virtual time, over
// libcurl against the local ad service's fixtures; the pages' messages are played as their
// handlers post them.
#ifdef ORVEX_ADSERVER_FIXTURES

#include <gtest/gtest.h>

#include "examples/embed/interstitial_example.h"
#include "examples/embed/popup_example.h"
#include "examples/embed/rewarded_example.h"
#include "orvex/formats/popup/orvex_popup_ad_view.h"
#include "ports/headless/headless_media.h"
#include "ports/headless/headless_web_view.h"
#include "tests/support/local_service.h"

namespace orvex {
namespace {

using headless::HeadlessWebView;
using Events = std::vector<std::string>;

class FullScreenIntegration : public testing_support::LocalServiceFlow {
 protected:
  void SetUp() override { startService(); }
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

TEST_F(FullScreenIntegration, TheReadmeHomeScreenGreetsWithAPopupUntilHiddenForToday) {
  auto home = std::make_shared<example::HomeScreen>();
  home->appeared("demo-popup");
  ASSERT_TRUE(port().runUntil([&] { return !home->heard.empty(); }, 10));
  EXPECT_EQ(home->heard[0], "received 3 pages");
  const auto popup = home->popup();
  ASSERT_TRUE(
      port().runUntil([&] { return popup->popupAdViewController()->view() != nullptr; }, 5));
  EXPECT_TRUE(recorded("AD_IMPR"));
  // What the hide-for-today button does.
  auto& view = *popup->popupAdViewController()->view();
  view.close();
  view.onClickHideForToday(view.currentIndex());
  ASSERT_TRUE(port().runUntil([&] { return home->heard.size() == 3; }, 5));
  EXPECT_EQ(home->heard[1], "hidden for today");
  EXPECT_EQ(home->heard[2], "dismissed");
  EXPECT_TRUE(recorded("AD_TODAY_OFF"));
  home->appeared("demo-popup");
  ASSERT_TRUE(port().runUntil([&] { return home->heard.size() == 4; }, 5));
  EXPECT_EQ(home->heard[3], "failed ERROR_CODE_AD_HIDE_FOR_TODAY");
}

}  // namespace
}  // namespace orvex

#endif  // ORVEX_ADSERVER_FIXTURES
