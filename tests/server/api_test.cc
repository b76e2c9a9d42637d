#include "orvex/server/orvex_api.h"

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

using testing_support::headerOf;
using testing_support::queryOf;
using testing_support::ScriptedHttpClient;
using testing_support::TempDir;
using testing_support::TestSdk;
using testing_support::TestSdkOptions;

const char* kAd = R"({"data":{"requestAd":{"id":"a:b:c_tx1","creative":"<p>hi</p>"}}})";

struct ApiFixture {
  ApiFixture() {
    TestSdkOptions options;
    options.http = http;
    options.preferredLanguages = {"ko-KR"};
    sdk.emplace(dir.path(), options);
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

  TempDir dir;
  std::shared_ptr<ScriptedHttpClient> http = std::make_shared<ScriptedHttpClient>();
  std::string adAnswer = kAd;
  std::string remoteConfigAnswer = R"({"data":{"getRemoteConfig":{"active":true}}})";
  std::optional<TestSdk> sdk;
};

TEST(OrvexApiTest, GateRefusesBeforeSending) {
  ApiFixture f;
  std::optional<ServerError> error;
  f.api().requestAd("u1", "c1", [&](auto, auto e) { error = e; });
  ASSERT_TRUE(error);
  EXPECT_EQ(errorCode(*error), OrvexErrorCode::initialize);

  Orvex::initialize(true, false);
  f.sdk->advance(0);
  Orvex::shared().config().setActive(false);
  error.reset();
  f.api().requestAds("u1", [&](auto, auto e) { error = e; });
  ASSERT_TRUE(error);
  EXPECT_EQ(errorCode(*error), OrvexErrorCode::adInactive);
  // Test units are served even when the app is switched off.
  bool served = false;
  f.api().requestAd("x_PUBLIC_TEST_UNIT_ID_y", "", [&](auto ad, auto e) { served = ad && !e; });
  f.sdk->advance(0);
  EXPECT_TRUE(served);
}

TEST(OrvexApiTest, OutsideProductionTheServersSwitchIsIgnored) {
  ApiFixture f;
  Orvex::initialize(false, false);
  f.sdk->advance(0);
  Orvex::shared().config().setActive(false);
  bool served = false;
  f.api().requestAd("u1", "", [&](auto ad, auto e) { served = ad && !e; });
  f.sdk->advance(0);
  EXPECT_TRUE(served);
}

TEST(OrvexApiTest, NotTargetCountryRefusesEverything) {
  ApiFixture f;
  Orvex::initialize(false, false, std::vector<std::string>{"US"});
  std::optional<ServerError> error;
  f.api().requestAd("u1", "", [&](auto, auto e) { error = e; });
  EXPECT_EQ(errorCode(*error), OrvexErrorCode::notTargetCountry);
  f.api().reportMetric(OrvexMetricCode::adImpr, "t1", "u1");
  f.sdk->advance(1);
  EXPECT_TRUE(f.http->requests().empty());
}

TEST(OrvexApiTest, RequestAdDecodesTheAnswerAndSendsTheFacts) {
  ApiFixture f;
  Orvex::initialize(false, false);
  f.sdk->advance(0);
  std::optional<AdRes> ad;
  f.api().requestAd("unit\"1", "ctx", [&](auto a, auto) { ad = a; });
  f.sdk->advance(0);
  ASSERT_TRUE(ad);
  EXPECT_EQ(ad->id, "a:b:c_tx1");
  auto q = f.queries("requestAd(");
  ASSERT_EQ(q.size(), 1u);
  EXPECT_NE(q[0].find("unit: \"unit\\\"1\""), std::string::npos);
  EXPECT_NE(q[0].find("lcl: \"ko_KR\""), std::string::npos);
  EXPECT_NE(q[0].find("size: {h: 844.0, w: 390.0}"), std::string::npos);
  EXPECT_NE(q[0].find("contextId: \"ctx\""), std::string::npos);
  EXPECT_NE(q[0].find("theme: \"light\""), std::string::npos);
  EXPECT_NE(
      q[0].find("reqAt: " + std::to_string(unixMillis(Orvex::shared().platform().clock->now()))),
      std::string::npos);
}

TEST(OrvexApiTest, StrictDecodingFailsTheWholeAnswer) {
  ApiFixture f;
  f.adAnswer = R"({"data":{"requestAd":{"id":7}}})";
  Orvex::initialize(false, false);
  std::optional<ServerError> error;
  f.api().requestAd("u1", "", [&](auto, auto e) { error = e; });
  f.sdk->advance(10);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->kind, ServerError::Kind::decoding);
  EXPECT_EQ(errorCode(*error), OrvexErrorCode::network);
}

TEST(OrvexApiTest, ReportMetricJoinsIdsAndEndsItsBackgroundTask) {
  ApiFixture f;
  Orvex::initialize(false, false);
  f.sdk->advance(0);
  f.api().reportMetric(OrvexMetricCode::adImpr, "t1", "u1");
  f.api().reportMetric(OrvexMetricCode::adClick, std::nullopt, "u1");
  f.api().reportMetric(OrvexMetricCode::close, std::nullopt, std::nullopt);
  f.sdk->advance(0);
  auto q = f.queries("invoke(");
  ASSERT_EQ(q.size(), 3u);
  EXPECT_NE(q[0].find("key: \"AD_IMPR\",\n        value: \"t1@u1\""), std::string::npos);
  EXPECT_NE(q[1].find("key: \"AD_CLICK\",\n        value: \"u1\""), std::string::npos);
  EXPECT_NE(q[2].find("value: \"\""), std::string::npos);
  EXPECT_EQ(f.sdk->port().lifecycle->activeBackgroundTaskCount(), 0u);
}

TEST(OrvexApiTest, InvokeBeforeInitializeCallsTheRefusalOnly) {
  ApiFixture f;
  bool refused = false, completed = false;
  f.api().invoke(
      "k", "v", [&](auto, auto) { completed = true; }, [&] { refused = true; });
  f.sdk->advance(1);
  EXPECT_TRUE(refused);
  EXPECT_FALSE(completed);
}

TEST(RemoteConfigTest, AnswerWithOnlyActiveResetsTheRest) {
  ApiFixture f;
  f.remoteConfigAnswer = R"({"data":{"getRemoteConfig":{"active":false}}})";
  Orvex::initialize(false, false);
  OrvexConfig& config = Orvex::shared().config();
  f.sdk->advance(0);
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

  auto q = f.queries("getRemoteConfig");
  ASSERT_EQ(q.size(), 1u);
  EXPECT_NE(q[0].find("tagHash: \"" + sha256Hex(kDefaultDisplayTag) + "\""), std::string::npos);
  EXPECT_NE(q[0].find("production: false"), std::string::npos);
}

TEST(RemoteConfigTest, BackfillMappingsReplaceTheOldOnes) {
  ApiFixture f;
  f.remoteConfigAnswer =
      R"({"data":{"getRemoteConfig":{"resAt":1700000000123.9,"playerVersion":"v2",)"
      R"("backfills":{"alpha":{"unitA":"extA"}}}}})";
  KeyValueStore& d = f.defaults();
  d.set("orvex_backfill_old:u", "gone");
  Orvex::initialize(false, false);
  f.sdk->advance(0);
  EXPECT_EQ(d.string("orvex_backfill_alpha:unitA"), "extA");
  EXPECT_FALSE(d.value("orvex_backfill_old:u"));
  EXPECT_EQ(Orvex::shared().config().serverTimestamp(), 1700000000123);
  EXPECT_EQ(Orvex::shared().config().playerVersion(), "v2");
  EXPECT_EQ(OrvexInternal::externalAdUnitId("alpha", "unitA"), "extA");
  EXPECT_FALSE(OrvexInternal::externalAdUnitId("alpha", "unitB"));
}

TEST(RemoteConfigTest, BadAnswerChangesNothingAndStaleConfigurationIsRefetched) {
  ApiFixture f;
  f.remoteConfigAnswer = R"({"data":{"getRemoteConfig":{"active":"no","playerVersion":"v9"}}})";
  Orvex::initialize(false, false);
  f.sdk->advance(10);  // both endpoints, with their retries
  OrvexConfig& config = Orvex::shared().config();
  EXPECT_EQ(f.queries("getRemoteConfig").size(), 6u);
  EXPECT_EQ(config.lastConfigAt(), 0);
  EXPECT_EQ(config.playerVersion(), "v0.0.13");
  EXPECT_NE(f.defaults().string("orvex_playerVersion"), "v9");
  EXPECT_NE(config.displayTag(), "");

  f.remoteConfigAnswer = R"({"data":{"getRemoteConfig":null}})";
  EXPECT_TRUE(config.fetchRemoteConfigIfStale());
  f.sdk->advance(0);
  std::int64_t applied = config.lastConfigAt();
  ASSERT_GT(applied, 0);
  f.sdk->advance(29 * 60);
  EXPECT_FALSE(config.fetchRemoteConfigIfStale());
  f.sdk->advance(60);
  EXPECT_TRUE(config.fetchRemoteConfigIfStale());
}

TEST(RemoteConfigTest, FailureBeforeInitializeIsLoggedAndReported) {
  ApiFixture f;
  std::optional<ServerError> error;
  Orvex::shared().config().fetchRemoteConfig([&](const ServerError& e) { error = e; });
  ASSERT_TRUE(error);
  EXPECT_EQ(errorCode(*error), OrvexErrorCode::initialize);
  EXPECT_TRUE(f.sdk->logged("Orvex::OrvexConfig remote config failed. " + error->description()));
  EXPECT_TRUE(f.http->requests().empty());
}

TEST(BackfillBridgeTest, ActivatedModuleServesThroughTheBridge) {
  testing_support::registerTestBackfillModule();
  ApiFixture f;
  f.remoteConfigAnswer =
      R"({"data":{"getRemoteConfig":{"backfills":{"test":{"demo-banner":"mapped-unit"}}}}})";
  EXPECT_FALSE(OrvexInternal::Loaders::banner());
  Orvex::initialize(false, false);
  EXPECT_TRUE(
      f.sdk->logged("Orvex::Orvex 🔄 OrvexAdsBackfill automatically activated via "
                    "OrvexBackfill"));
  f.sdk->advance(0);
  auto loader = OrvexInternal::Loaders::banner();
  ASSERT_TRUE(loader);
  std::optional<AdRes> ad;
  loader(nullptr, nullptr, [&](auto a, auto) { ad = a; });
  f.sdk->advance(0);
  ASSERT_TRUE(ad);
  EXPECT_EQ(ad->id, "backfill_a:b:c_tx1");
  auto q = f.queries("requestAd(");
  ASSERT_EQ(q.size(), 1u);
  EXPECT_NE(q[0].find("unit: \"mapped-unit\""), std::string::npos);
  auto events = f.queries("invoke(");
  ASSERT_EQ(events.size(), 1u);
  EXPECT_NE(events[0].find("value: \"backfill_a:b:c_tx1@demo-banner\""), std::string::npos);
}

}  // namespace
}  // namespace orvex
