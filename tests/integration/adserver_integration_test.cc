// The SDK over real libcurl against the local ad service on loopback. Network time is real; the
// SDK's own waits (retry delays) run in virtual time, advanced while the answers arrive.
#ifdef ORVEX_ADSERVER_FIXTURES

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

#include "orvex/core/orvex_config.h"
#include "orvex/server/orvex_api.h"
#include "ports/linux/curl_http_client.h"
#include "tests/support/test_sdk.h"
#include "tools/adserver/ad_server.h"

namespace orvex {
namespace {

using testing_support::TempDir;
using testing_support::TestSdk;
using testing_support::TestSdkOptions;

class AdServerIntegrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    adserver::Options options;
    options.fixtures = ORVEX_ADSERVER_FIXTURES;
    options.appKeys = {testing_support::kTestAppKey};
    server_ = std::make_unique<adserver::AdServer>(options);
    std::string error;
    ASSERT_TRUE(server_->start(&error)) << error;

    TestSdkOptions sdkOptions;
    sdkOptions.http = std::make_shared<linux_port::CurlHttpClient>(dir_.path() / "downloads");
    sdkOptions.deployment.adServerBase = server_->baseUrl();
    sdkOptions.deployment.apiServerBase = server_->baseUrl();
    sdkOptions.deployment.playerScriptCdnBase = server_->baseUrl() + "/cdn/player@";
    sdk_.emplace(dir_.path(), sdkOptions);
    Orvex::initialize(false, false);
    ASSERT_TRUE(runUntil([] { return Orvex::shared().config().lastConfigAt() > 0; }));
    server_->clearRequests();
  }

  void TearDown() override {
    sdk_.reset();
    if (server_) server_->stop();
  }

  // Advances virtual time in small steps until `done` holds or ten real seconds pass.
  bool runUntil(const std::function<bool()>& done) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      sdk_->advance(0.05);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }

  struct Outcome {
    std::optional<AdRes> ad;
    std::optional<ServerError> error;
    bool done = false;
  };

  // The completion runs inside advance, on this thread.
  Outcome requestAd(const std::string& unit) {
    Outcome out;
    Orvex::shared().api().requestAd(unit, "ctx", [&out](auto ad, auto error) {
      out.ad = std::move(ad);
      out.error = std::move(error);
      out.done = true;
    });
    EXPECT_TRUE(runUntil([&] { return out.done; }));
    return out;
  }

  std::vector<std::string> paths() const {
    std::vector<std::string> out;
    // The player script download that follows remote configuration is not an ad exchange.
    for (const auto& r : server_->requests()) {
      if (!r.path.starts_with("/cdn/")) out.push_back(r.path);
    }
    return out;
  }

  void failBoth(adserver::Fault fault) {
    server_->setFault("/request-ads", fault);
    server_->setFault("/graphql", fault);
  }

  TempDir dir_;
  std::unique_ptr<adserver::AdServer> server_;
  std::optional<TestSdk> sdk_;
};

TEST_F(AdServerIntegrationTest, RemoteConfigAppliedAndAdServedAndEventRecorded) {
  OrvexConfig& config = Orvex::shared().config();
  EXPECT_NE(config.displayTag().find("%%ORVEX_CREATIVE%%"), std::string::npos);
  EXPECT_EQ(config.displayTagMacro(), "%%ORVEX_CREATIVE%%");
  EXPECT_EQ(
      Orvex::shared().platform().store->standard()->string("orvex_backfill_alpha:demo-banner"),
      "alpha-banner-320x50");

  Outcome out = requestAd("demo-banner");
  ASSERT_TRUE(out.ad) << (out.error ? out.error->description() : "");
  EXPECT_NE(out.ad->creative.value_or("").find(server_->baseUrl() + "/static/banner.png"),
            std::string::npos);

  Outcome none = requestAd("demo-nofill");
  ASSERT_TRUE(none.ad);  // an empty ad, not a failure: deciding no fill is the format's business
  EXPECT_EQ(none.ad->creative.value_or(""), "");

  Orvex::shared().api().reportMetric(OrvexMetricCode::adImpr, "t1", "demo-banner");
  ASSERT_TRUE(runUntil([&] { return server_->requests().size() == 3; }));
  auto event = server_->requests().back();
  EXPECT_EQ(event.path, "/events");
  EXPECT_EQ(event.operation, "invoke");
  EXPECT_EQ(event.status, 200);
  EXPECT_NE(event.body.find(R"(value: \"t1@demo-banner\")"), std::string::npos);
}

TEST_F(AdServerIntegrationTest, ServerErrorRetriesTwiceOnEachEndpoint) {
  adserver::Fault fault;
  fault.status = 500;
  failBoth(fault);
  Outcome out = requestAd("demo-banner");
  ASSERT_TRUE(out.error);
  EXPECT_EQ(errorCode(*out.error), OrvexErrorCode::network);
  EXPECT_EQ(paths(), (std::vector<std::string>{"/request-ads", "/request-ads", "/request-ads",
                                               "/graphql", "/graphql", "/graphql"}));
  EXPECT_TRUE(Orvex::shared().config().active());
}

TEST_F(AdServerIntegrationTest, UnauthorizedStopsAtOnceAndSwitchesOff) {
  adserver::Fault fault;
  fault.status = 401;
  failBoth(fault);
  Outcome out = requestAd("demo-banner");
  ASSERT_TRUE(out.error);
  EXPECT_EQ(errorCode(*out.error), OrvexErrorCode::accountUsageLimitExceeded);
  EXPECT_EQ(paths(), std::vector<std::string>{"/request-ads"});
  EXPECT_FALSE(Orvex::shared().config().active());
  EXPECT_EQ(Orvex::shared().platform().store->standard()->boolean("orvex_active"), false);
}

TEST_F(AdServerIntegrationTest, BadAnswersFailAsNetworkAfterTheFallback) {
  struct Case {
    const char* name;
    adserver::Fault fault;
  };
  adserver::Fault dataNull, malformed, oversize, truncated;
  dataNull.dataNull = true;
  malformed.malformed = true;
  oversize.oversizeBytes = 5 * 1024 * 1024;
  truncated.truncate = true;
  for (const Case& c : {Case{"data null", dataNull}, Case{"malformed", malformed},
                        Case{"over the cap", oversize}, Case{"truncated", truncated}}) {
    SCOPED_TRACE(c.name);
    server_->clearRequests();
    failBoth(c.fault);
    Outcome out = requestAd("demo-banner");
    ASSERT_TRUE(out.error);
    EXPECT_EQ(errorCode(*out.error), OrvexErrorCode::network);
    auto p = paths();
    ASSERT_EQ(p.size(), 6u);
    EXPECT_EQ(p.back(), "/graphql");
  }
  // Nothing from the bad answers reached the configuration.
  EXPECT_TRUE(Orvex::shared().config().active());
}

TEST_F(AdServerIntegrationTest, DroppedConnectionOnThePrimaryIsServedByTheFallback) {
  adserver::Fault fault;
  fault.drop = true;
  server_->setFault("/request-ads", fault);
  Outcome out = requestAd("demo-banner");
  ASSERT_TRUE(out.ad) << (out.error ? out.error->description() : "");
  // libcurl itself resends once when a reused connection turns out dead, so the service may see
  // one more request at the primary than the SDK made attempts.
  auto p = paths();
  ASSERT_GE(p.size(), 4u);
  EXPECT_EQ(std::count(p.begin(), p.end(), "/graphql"), 1);
  EXPECT_EQ(p.back(), "/graphql");
  EXPECT_TRUE(sdk_->logged("Orvex::RetryPolicy retrying request in 1000.0ms."));
  EXPECT_TRUE(sdk_->logged("Orvex::RetryPolicy retrying request in 2000.0ms."));
}

}  // namespace
}  // namespace orvex

#endif  // ORVEX_ADSERVER_FIXTURES
