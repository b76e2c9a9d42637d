// The SDK over real libcurl against the local ad service on loopback: configuration, an ad and an
// event as they should go (fault_matrix_test.cc has every way they can fail). Network time is
// real; the SDK's own waits run in virtual time, advanced while the answers arrive.
#ifdef ORVEX_ADSERVER_FIXTURES

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace orvex

#endif  // ORVEX_ADSERVER_FIXTURES
