#include "orvex/server/orvex_api.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "orvex/core/crypto.h"
#include "orvex/core/device.h"
#include "orvex/core/orvex_config.h"
#include "orvex/core/orvex_internal.h"
#include "ports/linux/lifecycle.h"
#include "tests/support/scripted_http.h"
#include "tests/support/test_backfill.h"
#include "tests/support/test_sdk.h"

namespace orvex {
namespace {

using testing::AllOf;
using testing::ElementsAre;
using testing::HasSubstr;
using testing_support::queryOf;
using testing_support::ScriptedHttpClient;
using testing_support::TempDir;
using testing_support::TestSdk;
using testing_support::TestSdkOptions;

const char* kAd = R"({"data":{"requestAd":{"id":"a:b:c_tx1","creative":"<p>hi</p>"}}})";

struct ApiFixture {
  TestSdkOptions options() {
    TestSdkOptions o;
    o.http = http;
    o.preferredLanguages = {"ko-KR"};
    return o;
  }
  ApiFixture() {
    http->respond([this](const HttpRequest& r) {
      std::string q = queryOf(r);
      if (q.find("getRemoteConfig") != std::string::npos)
        return ScriptedHttpClient::answer(200, remoteConfigAnswer);
      if (q.find("invoke") != std::string::npos)
        return ScriptedHttpClient::answer(200, R"({"data":{"invoke":{"message":"ok"}}})");
      return ScriptedHttpClient::answer(200, adAnswer);
    });
  }
  std::vector<std::string> queries(const std::string& containing) const {
    std::vector<std::string> out;
    for (const auto& r : http->requests())
      if (queryOf(r).find(containing) != std::string::npos) out.push_back(queryOf(r));
    return out;
  }
  OrvexAPI& api() { return Orvex::shared().api(); }
  KeyValueStore& defaults() { return *Orvex::shared().platform().store->standard(); }
  void initialize(bool production = false) {
    Orvex::initialize(production, false);
    sdk.advance(0);
  }
  // Refusals land at once, answers once time advances.
  void requestAd(const std::string& unit, const std::string& context = "") {
    ad.reset(), error.reset();
    api().requestAd(unit, context, [this](auto a, auto e) { ad = a, error = e; });
  }

  TempDir dir;
  std::shared_ptr<ScriptedHttpClient> http = std::make_shared<ScriptedHttpClient>();
  std::string adAnswer = kAd;
  std::string remoteConfigAnswer = R"({"data":{"getRemoteConfig":{"active":true}}})";
  TestSdk sdk{dir.path(), options()};
  std::optional<AdRes> ad;
  std::optional<ServerError> error;
};

TEST(OrvexApiTest, GateRefusesBeforeSendingAndTheServersSwitchCountsInProductionOnly) {
  {
    ApiFixture f;
    f.requestAd("u1", "c1");
    ASSERT_TRUE(f.error);
    EXPECT_EQ(errorCode(*f.error), OrvexErrorCode::initialize);
    f.initialize(/*production=*/true);
    Orvex::shared().config().setActive(false);
    f.api().requestAds("u1", [&](auto, auto e) { f.error = e; });
    EXPECT_EQ(errorCode(*f.error), OrvexErrorCode::adInactive);
    // Test units are served even when the app is switched off.
    f.requestAd("x_PUBLIC_TEST_UNIT_ID_y");
    f.sdk.advance(0);
    EXPECT_TRUE(f.ad && !f.error);
  }
  ApiFixture f;
  f.initialize();
  Orvex::shared().config().setActive(false);
  f.requestAd("u1");
  f.sdk.advance(0);
  EXPECT_TRUE(f.ad && !f.error);
}

TEST(OrvexApiTest, NotTargetCountryRefusesEverything) {
  ApiFixture f;
  Orvex::initialize(false, false, std::vector<std::string>{"US"});
  f.requestAd("u1");
  EXPECT_EQ(errorCode(*f.error), OrvexErrorCode::notTargetCountry);
  f.api().reportMetric(OrvexMetricCode::adImpr, "t1", "u1");
  f.sdk.advance(1);
  EXPECT_TRUE(f.http->requests().empty());
}

TEST(OrvexApiTest, RequestAdSendsTheFactsAndDecodesStrictly) {
  ApiFixture f;
  f.initialize();
  f.requestAd("unit\"1", "ctx");
  f.sdk.advance(0);
  ASSERT_TRUE(f.ad);
  EXPECT_EQ(f.ad->id, "a:b:c_tx1");
  const auto now = unixMillis(Orvex::shared().platform().clock->now());
  EXPECT_THAT(f.queries("requestAd("),
              ElementsAre(AllOf(HasSubstr("unit: \"unit\\\"1\""), HasSubstr("lcl: \"ko_KR\""),
                                HasSubstr("size: {h: 844.0, w: 390.0}"),
                                HasSubstr("contextId: \"ctx\""), HasSubstr("theme: \"light\""),
                                HasSubstr("reqAt: " + std::to_string(now)))));

  // One mistyped member fails the whole answer.
  f.adAnswer = R"({"data":{"requestAd":{"id":7}}})";
  f.requestAd("u1");
  f.sdk.advance(10);
  ASSERT_TRUE(f.error);
  EXPECT_EQ(f.error->kind, ServerError::Kind::decoding);
  EXPECT_EQ(errorCode(*f.error), OrvexErrorCode::network);
}

TEST(OrvexApiTest, InvokeWaitsForInitializeAndMetricsJoinTheirIds) {
  ApiFixture f;
  bool refused = false, completed = false;
  f.api().invoke(
      "k", "v", [&](auto, auto) { completed = true; }, [&] { refused = true; });
  f.sdk.advance(1);
  EXPECT_TRUE(refused);
  EXPECT_FALSE(completed);

  f.initialize();
  f.api().reportMetric(OrvexMetricCode::adImpr, "t1", "u1");
  f.api().reportMetric(OrvexMetricCode::adClick, std::nullopt, "u1");
  f.api().reportMetric(OrvexMetricCode::close, std::nullopt, std::nullopt);
  f.sdk.advance(0);
  EXPECT_THAT(f.queries("invoke("),
              ElementsAre(HasSubstr("key: \"AD_IMPR\",\n        value: \"t1@u1\""),
                          HasSubstr("key: \"AD_CLICK\",\n        value: \"u1\""),
                          HasSubstr("value: \"\"")));
  EXPECT_EQ(f.sdk.port().lifecycle->activeBackgroundTaskCount(), 0u);
}

TEST(RemoteConfigTest, AnswerWithOnlyActiveResetsTheRest) {
  ApiFixture f;
  f.remoteConfigAnswer = R"({"data":{"getRemoteConfig":{"active":false}}})";
  f.initialize();
  OrvexConfig& config = Orvex::shared().config();
  EXPECT_EQ(config.displayTag(), "");
  EXPECT_EQ(config.displayTagMacro(), "");
  EXPECT_EQ(f.defaults().string("orvex_displayTag"), std::string(kDefaultDisplayTag));
  EXPECT_FALSE(config.active());
  EXPECT_EQ(f.defaults().boolean("orvex_active"), false);
  EXPECT_EQ(config.playerVersion(), "v0.0.13");
  std::int64_t now = unixMillis(Orvex::shared().platform().clock->now());
  EXPECT_EQ(config.lastConfigAt(), now);
  EXPECT_EQ(config.serverTimestamp(), now);
  EXPECT_EQ(f.defaults().string("orvex_lastConfigAt"), std::to_string(now));
  EXPECT_THAT(f.queries("getRemoteConfig"),
              ElementsAre(AllOf(HasSubstr("tagHash: \"" + sha256Hex(kDefaultDisplayTag) + "\""),
                                HasSubstr("production: false"))));
}

TEST(RemoteConfigTest, BackfillMappingsReplaceTheOldOnes) {
  ApiFixture f;
  f.remoteConfigAnswer =
      R"({"data":{"getRemoteConfig":{"resAt":1700000000123.9,"playerVersion":"v2",)"
      R"("backfills":{"alpha":{"unitA":"extA"}}}}})";
  KeyValueStore& d = f.defaults();
  d.set("orvex_backfill_old:u", "gone");
  f.initialize();
  EXPECT_EQ(d.string("orvex_backfill_alpha:unitA"), "extA");
  EXPECT_FALSE(d.value("orvex_backfill_old:u"));
  EXPECT_EQ(Orvex::shared().config().serverTimestamp(), 1700000000123);
  EXPECT_EQ(Orvex::shared().config().playerVersion(), "v2");
  EXPECT_EQ(OrvexInternal::externalAdUnitId("alpha", "unitA"), "extA");
  EXPECT_FALSE(OrvexInternal::externalAdUnitId("alpha", "unitB"));
}

TEST(RemoteConfigTest, FailuresChangeNothingAndStaleConfigurationIsRefetched) {
  ApiFixture f;
  OrvexConfig& config = Orvex::shared().config();
  std::optional<ServerError> error;
  config.fetchRemoteConfig([&](const ServerError& e) { error = e; });
  ASSERT_TRUE(error);  // before initialize: logged and reported, nothing sent
  EXPECT_EQ(errorCode(*error), OrvexErrorCode::initialize);
  EXPECT_TRUE(f.sdk.logged("Orvex::OrvexConfig remote config failed. " + error->description()));
  EXPECT_TRUE(f.http->requests().empty());

  f.remoteConfigAnswer = R"({"data":{"getRemoteConfig":{"active":"no","playerVersion":"v9"}}})";
  Orvex::initialize(false, false);
  f.sdk.advance(10);  // both endpoints, with their retries
  EXPECT_EQ(f.queries("getRemoteConfig").size(), 6u);
  EXPECT_EQ(config.lastConfigAt(), 0);
  EXPECT_EQ(config.playerVersion(), "v0.0.13");
  EXPECT_NE(f.defaults().string("orvex_playerVersion"), "v9");
  EXPECT_NE(config.displayTag(), "");

  f.remoteConfigAnswer = R"({"data":{"getRemoteConfig":null}})";
  EXPECT_TRUE(config.fetchRemoteConfigIfStale());
  f.sdk.advance(0);
  ASSERT_GT(config.lastConfigAt(), 0);
  f.sdk.advance(29 * 60);
  EXPECT_FALSE(config.fetchRemoteConfigIfStale());
  f.sdk.advance(60);
  EXPECT_TRUE(config.fetchRemoteConfigIfStale());
}

TEST(BackfillBridgeTest, ActivatedModuleServesThroughTheBridge) {
  testing_support::registerTestBackfillModule();
  ApiFixture f;
  f.remoteConfigAnswer =
      R"({"data":{"getRemoteConfig":{"backfills":{"test":{"demo-banner":"mapped-unit"}}}}})";
  EXPECT_FALSE(OrvexInternal::Loaders::banner());
  Orvex::initialize(false, false);
  EXPECT_TRUE(
      f.sdk.logged("Orvex::Orvex 🔄 OrvexAdsBackfill automatically activated via OrvexBackfill"));
  f.sdk.advance(0);
  auto loader = OrvexInternal::Loaders::banner();
  ASSERT_TRUE(loader);
  loader(nullptr, nullptr, [&](auto a, auto) { f.ad = a; });
  f.sdk.advance(0);
  ASSERT_TRUE(f.ad);
  EXPECT_EQ(f.ad->id, "backfill_a:b:c_tx1");
  EXPECT_THAT(f.queries("requestAd("), ElementsAre(HasSubstr("unit: \"mapped-unit\"")));
  EXPECT_THAT(f.queries("invoke("),
              ElementsAre(HasSubstr("value: \"backfill_a:b:c_tx1@demo-banner\"")));
}

}  // namespace
}  // namespace orvex
