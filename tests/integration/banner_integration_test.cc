// A banner on the real-time headless port over libcurl against the local ad service: the whole
// path a host sees, from load() to the service's records of the impression and the click.
#ifdef ORVEX_ADSERVER_FIXTURES

#include <gtest/gtest.h>

#include "orvex/formats/inline/orvex_banner.h"
#include "ports/headless/headless_web_view.h"
#include "tests/support/local_service.h"

namespace orvex {
namespace {

using BannerIntegration = testing_support::LocalServiceFlow;

TEST_F(BannerIntegration, LoadShowImpressionAndClickAgainstTheLocalService) {
  startService(headless::TimeMode::real);
  auto& port = this->port();
  auto banner = OrvexBanner::create("demo-banner", "ctx");
  std::vector<std::string> heard;
  banner->onAdReceived = [&](OrvexBanner&) { heard.push_back("received"); };
  banner->onAdFailedToReceive = [&](OrvexBanner&, OrvexErrorCode code) {
    heard.push_back("failed " + OrvexErrorCodeToString(code));
  };
  banner->onAdImpression = [&](OrvexBanner&) { heard.push_back("impression"); };
  banner->onAdClicked = [&](OrvexBanner&) { heard.push_back("clicked"); };
  root_->view()->addSubview(banner->view());
  banner->view()->setFrame(Rect(35, 200, 320, 50));
  banner->load();
  ASSERT_TRUE(port.runUntil([&] { return heard.size() >= 2; }, 10));
  ASSERT_EQ(heard, (std::vector<std::string>{"received", "impression"}));
  EXPECT_EQ(banner->campaignId(), "banner-1");

  // Reports travel on separate exchanges; a user's tap comes after the impression arrived.
  ASSERT_TRUE(port.runUntil([&] { return recordedMetrics().size() == 1; }, 10));
  port.webViews->last()->activateLink("https://advertiser.example/landing");
  // The report and the host's callback travel separately; wait for both.
  ASSERT_TRUE(port.runUntil(
      [&] { return recordedMetrics().size() >= 2 && !port.ui->openedLinks().empty(); }, 10));
  EXPECT_EQ(heard, (std::vector<std::string>{"received", "impression", "clicked"}));
  const std::string value = banner->txId() + "@demo-banner";
  EXPECT_EQ(recordedMetrics(), (std::vector<std::string>{"AD_IMPR " + value, "AD_CLICK " + value}));
  ASSERT_EQ(port.ui->openedLinks().size(), 1u);
  EXPECT_EQ(port.ui->openedLinks()[0].target, "https://advertiser.example/landing");
}

}  // namespace
}  // namespace orvex

#endif  // ORVEX_ADSERVER_FIXTURES
