#include "orvex/formats/inline/orvex_quest_banner.h"

#include <gtest/gtest.h>

#include "examples/embed/banner_example.h"
#include "orvex/core/orvex.h"
#include "ports/headless/headless_user_interface.h"
#include "ports/headless/headless_web_view.h"
#include "tests/support/ad_flow.h"

namespace orvex {
namespace {

using QuestBanner = testing_support::AdFlow;

TEST_F(QuestBanner, RequestsItsFormatsUnitAndOpensClicksInTheQuestScreen) {
  answer_ = testing_support::adAnswer(
      R"("id":"q:tx_1","creative":"<a href='x'>q</a>",)"
      R"("destinationURL":"https://quest.orvex.example/c/landing","browserTarget":0)");
  start();
  auto& sdk = sdk_;
  auto root = this->root();

  // The README's feed asks for the feed format's unit.
  auto feed = std::make_shared<example::FeedScreen>();
  feed->showQuestBanner(root->view(), "c");
  EXPECT_EQ(feed->questBanner()->unitId(), "FEED");
  EXPECT_EQ(feed->questBanner()->from(), OrvexQuestBannerFrom::home);
  sdk.advance(1);
  EXPECT_EQ(feed->questBanner()->txId(), "q:tx_1");
  feed.reset();
  auto banner = OrvexQuestBanner::create("ch-1", OrvexQuestBannerFormat::cover);
  auto page = sdk.port().webViews->last();
  EXPECT_FALSE(page->presentation().showsScrollIndicators);
  int clicks = 0;
  banner->onAdClicked = [&](OrvexBanner&) { ++clicks; };
  root->view()->addSubview(banner->view());
  banner->view()->setFrame(Rect(0, 100, 390, 80));
  banner->load();
  sdk.advance(1);
  std::string request;
  for (const auto& r : http_->requests())
    if (testing_support::queryOf(r).find("requestAd(") != std::string::npos)
      request = testing_support::queryOf(r);
  EXPECT_NE(request.find(R"(unit: "COVER")"), std::string::npos) << request;
  EXPECT_NE(request.find(R"(contextId: "")"), std::string::npos) << request;

  EXPECT_FALSE(banner->from());
  banner->setFrom("my_page");
  banner->setFrom("myPage");
  EXPECT_EQ(banner->from(), OrvexQuestBannerFrom::myPage);
  EXPECT_TRUE(
      sdk.logged("Orvex::OrvexBanner ❗️Invalid from value: 'myPage'. Supported values are: "
                 "[home, my_page]"));

  // A click is reported as any banner's, and opens in the quest screen, not a browser.
  page->activateLink("https://quest.orvex.example/c/step?x=1");
  sdk.advance(1);
  ASSERT_TRUE(root->presentedViewController());
  EXPECT_EQ(sdk.port().webViews->last()->loads().back().content,
            "https://quest.orvex.example/c/step?x=1");
  EXPECT_TRUE(sdk.port().ui->openedLinks().empty());
  EXPECT_EQ(clicks, 1);
  root->presentedViewController()->dismiss(false, {});
  sdk.advance(1);

  banner->open("not a url", false);
  EXPECT_TRUE(sdk.logged("Orvex::OrvexBanner failed to open: not a url"));

  // With custom clicks the host opens pages: reported, nothing presented.
  banner->setUseCustomClick(true);
  page->activateLink("https://quest.orvex.example/c/other");
  sdk.advance(1);
  EXPECT_FALSE(root->presentedViewController());
  EXPECT_EQ(clicks, 2);
  EXPECT_EQ(metrics(),
            (std::vector<std::string>{"AD_IMPR q:tx_1@FEED", "AD_IMPR q:tx_1@COVER",
                                      "AD_CLICK q:tx_1@COVER", "AD_CLICK q:tx_1@COVER"}));
}

}  // namespace
}  // namespace orvex
