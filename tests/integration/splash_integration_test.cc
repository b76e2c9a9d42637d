// The README's splash start on the headless port in virtual time, over libcurl against the local
// ad service: the first start asks the service within its time-out, the next ones are served from
// what the first stored.
#ifdef ORVEX_ADSERVER_FIXTURES

#include <gtest/gtest.h>

#include "examples/embed/splash_example.h"
#include "tests/support/local_service.h"

namespace orvex {
namespace {

using testing_support::LocalServiceFlow;

class SplashIntegration : public LocalServiceFlow {
 protected:
  int adRequests() const {
    int n = 0;
    for (const auto& r : server_->requests()) n += r.operation == "requestAds";
    return n;
  }
};

TEST_F(SplashIntegration, TheFirstStartAsksTheServiceAndTheNextOnesUseWhatItStored) {
  startService();
  auto first = std::make_shared<example::AppLaunch>();
  first->start(*window_, root_, "demo-splash");
  ASSERT_TRUE(port().runUntil([&] { return first->heard.size() == 3; }, 15));
  EXPECT_TRUE(first->heard[0].starts_with("received local:")) << first->heard[0];
  EXPECT_EQ(first->heard[1], "impression");
  EXPECT_EQ(first->heard[2], "closed after an impression");
  EXPECT_EQ(window_->rootViewController(), root_);
  EXPECT_EQ(adRequests(), 2) << "the bounded request and the refresh";
  EXPECT_TRUE(recorded("AD_IMPR"));

  // The refresh stored the list and its images: the next start shows one at once.
  ASSERT_TRUE(
      port().runUntil([] { return !OrvexSplashAdCache::create("demo-splash")->isStale(); }, 10));
  port().runFor(1);
  auto second = std::make_shared<example::AppLaunch>();
  second->start(*window_, root_, "demo-splash");
  port().runFor(0.01);
  ASSERT_EQ(second->heard.size(), 1u);
  EXPECT_TRUE(second->heard[0].starts_with("received local:")) << second->heard[0];
  ASSERT_TRUE(port().runUntil([&] { return second->heard.size() == 3; }, 10));
  EXPECT_EQ(adRequests(), 3) << "the refresh alone";

  // A host with its own launch flow, from the cache alone.
  auto own = std::make_shared<example::AppLaunch>();
  own->showInOwnLaunchFlow(root_->view(), "demo-splash");
  ASSERT_TRUE(port().runUntil([&] { return !own->heard.empty(); }, 10));
  EXPECT_EQ(own->heard, (std::vector<std::string>{"view closed after an impression"}));
  EXPECT_TRUE(recorded("AD_IMPR"));
}

}  // namespace
}  // namespace orvex

#endif  // ORVEX_ADSERVER_FIXTURES
