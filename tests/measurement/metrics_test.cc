#include "orvex/measurement/orvex_metrics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "orvex/core/json.h"
#include "orvex/measurement/orvex_page_tracker.h"
#include "ports/linux/lifecycle.h"
#include "tests/support/scripted_http.h"
#include "tests/support/test_sdk.h"

namespace orvex {
namespace {

using testing_support::queryOf;
using testing_support::ScriptedHttpClient;
using testing_support::TempDir;
using testing_support::TestSdk;
using testing_support::TestSdkOptions;

struct MetricsFixture {
  explicit MetricsFixture(bool initialize = true) {
    TestSdkOptions options;
    options.http = http;
    sdk.emplace(dir.path(), options);
    http->respond([this](const HttpRequest& r) {
      if (queryOf(r).find("invoke") == std::string::npos)
        return ScriptedHttpClient::answer(200, R"({"data":{"getRemoteConfig":{"active":true}}})");
      if (duringSend) std::exchange(duringSend, nullptr)();
      return ScriptedHttpClient::answer(200, R"({"data":{"invoke":{"message":"ok"}}})");
    });
    if (initialize) Orvex::initialize(false, false);
    sdk->advance(0);
  }
  // The JSON values sent under `key`, in order.
  std::vector<Value> sent(const std::string& key) const {
    std::vector<Value> out;
    const std::string marker = "key: \"" + key + "\",\n        value: \"";
    for (const auto& r : http->requests()) {
      std::string q = queryOf(r), text;
      auto at = q.find(marker);
      if (at == std::string::npos) continue;
      for (auto i = at + marker.size(); q.compare(i, 3, "\",\n") != 0; ++i)
        if (q[i] != '\\') text += q[i];  // drops the escaping of quotes
      out.push_back(json::parse(text).value_or(Value()));
    }
    return out;
  }
  KeyValueStore& suite() { return *Orvex::shared().platform().store->suite("io.orvex.metrics"); }
  std::int64_t mark() { return suite().integer("CUSTOM_PROPERTY_REQUEST_AT"); }

  TempDir dir;
  std::shared_ptr<ScriptedHttpClient> http = std::make_shared<ScriptedHttpClient>();
  std::function<void()> duringSend;
  std::optional<TestSdk> sdk;
};

TEST(OrvexMetricsTest, BurstIsSentOnceASecondAfterTheLastChange) {
  MetricsFixture f;
  for (int i = 0; i < 10; ++i) {
    OrvexMetrics::setProperty("k" + std::to_string(i), std::int64_t{i});
    f.sdk->advance(0.05);
  }
  OrvexMetrics::setProperty(OrvexKey::GENDER, OrvexValue::OrvexGender::MALE);
  f.sdk->advance(0.9);
  EXPECT_TRUE(f.sent("SET_PROPERTY").empty());
  f.sdk->advance(0.2);
  auto sent = f.sent("SET_PROPERTY");
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].asDict()->size(), 11u);
  EXPECT_EQ(*sent[0].find("k9"), Value(9));
  EXPECT_EQ(*sent[0].find("GDR"), Value("M"));
  EXPECT_EQ(f.mark(), 0);  // confirmed

  // The same value again writes nothing and sends nothing.
  OrvexMetrics::setProperty("k3", std::int64_t{3});
  f.sdk->advance(2);
  EXPECT_EQ(f.mark(), 0);
  EXPECT_EQ(f.sent("SET_PROPERTY").size(), 1u);
}

TEST(OrvexMetricsTest, LimitsHoldAtTheirEdgesAndOtherStoredKindsAreSkipped) {
  MetricsFixture f;
  f.suite().set("CUSTOM_PROPERTY", Value(ValueDict{{"list", Value(ValueArray{1})}}));
  OrvexMetrics::setProperty(std::string(64, 'a'), true);
  OrvexMetrics::setProperty(std::string(65, 'b'), true);
  OrvexMetrics::setProperty("t256", std::string(256, 'x'));
  OrvexMetrics::setProperty("t257", std::string(257, 'x'));
  OrvexMetrics::setProperty("below", std::int64_t{9007199254740990});
  OrvexMetrics::setProperty("limit", std::int64_t{9007199254740991});
  OrvexMetrics::setProperty("negative", -1e300);
  OrvexMetrics::setProperty("nan", std::nan(""));
  f.sdk->advance(0);
  auto p = OrvexMetrics::properties();
  EXPECT_EQ(p.size(), 4u);  // the 64-character key, t256, below and negative
  EXPECT_TRUE(f.sdk->logged("Orvex::OrvexMetrics key length(65) exceeds max length(64), key: " +
                            std::string(65, 'b')));
  EXPECT_TRUE(
      f.sdk->logged("Orvex::OrvexMetrics value length(257) exceeds max length(256), "
                    "value: " +
                    std::string(257, 'x')));
  EXPECT_TRUE(f.sdk->logged(
      "Orvex::OrvexMetrics value(9007199254740991) exceeds max safe integer9007199254740991.0"));
  EXPECT_TRUE(f.sdk->logged("Orvex::OrvexMetrics Unsupported type for key list: [1]"));
}

TEST(OrvexMetricsTest, FullPropertySetRefusesNewKeysOnly) {
  MetricsFixture f;
  ValueDict full;
  for (int i = 0; i < 256; ++i) full.emplace("p" + std::to_string(i), i);
  f.suite().set("CUSTOM_PROPERTY", Value(full));
  OrvexMetrics::setProperty("extra", true);
  f.sdk->advance(0);
  EXPECT_TRUE(f.sdk->logged("Orvex::OrvexMetrics properties length(257) exceeds max length(256"));
  EXPECT_EQ(f.mark(), 0);
  OrvexMetrics::setProperty("p0", "replaced");
  OrvexMetrics::setProperty("p1", std::nullopt);
  f.sdk->advance(0);
  auto p = OrvexMetrics::properties();
  EXPECT_EQ(p.size(), 255u);
  EXPECT_EQ(p.at("p0"), OrvexPropertyValue(std::string("replaced")));
}

TEST(OrvexMetricsTest, EventsAreValidatedAndDuplicatesDropped) {
  MetricsFixture f(false);
  OrvexMetrics::logEvent("tap", ValueDict{{"n", 1}});  // not sent, and suppresses nothing
  f.sdk->advance(0);
  Orvex::initialize(false, false);
  OrvexMetrics::logEvent("bad", ValueDict{{"ok", 1}, {"long", std::string(257, 'x')}});
  OrvexMetrics::logEvent("tap", ValueDict{{"n", 1}});
  f.sdk->advance(1.0);
  OrvexMetrics::logEvent("tap", ValueDict{{"n", 1}});
  OrvexMetrics::logEvent("tap", ValueDict{{"n", 2}});
  f.sdk->advance(1.1);
  OrvexMetrics::logEvent("tap", ValueDict{{"n", 1}});  // 2100 ms after the first
  f.sdk->advance(0);
  EXPECT_TRUE(f.sent("bad").empty());
  auto taps = f.sent("tap");
  ASSERT_EQ(taps.size(), 3u);
  EXPECT_EQ(taps[1], Value(ValueDict{{"n", 2}}));
}

TEST(OrvexMetricsTest, ChangeDuringTheSendKeepsItsMarkAndIsSentToo) {
  MetricsFixture f;
  OrvexMetrics::setProperty("a", std::int64_t{1});
  f.duringSend = [] { OrvexMetrics::setProperty("b", std::int64_t{2}); };
  f.sdk->advance(1.0);
  ASSERT_EQ(f.sent("SET_PROPERTY").size(), 1u);
  EXPECT_NE(f.mark(), 0);  // the answer for the first send did not clear the newer mark
  f.sdk->advance(1.0);
  auto sent = f.sent("SET_PROPERTY");
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1], Value(ValueDict{{"a", 1}, {"b", 2}}));
  EXPECT_EQ(f.mark(), 0);
}

TEST(OrvexMetricsTest, BackgroundFlushesOnlyWhenAMarkIsPending) {
  MetricsFixture f;
  f.suite().set("CUSTOM_PROPERTY", Value(ValueDict{{"k", "v"}}));
  f.sdk->port().lifecycle->send(AppNotification::didEnterBackground);
  f.sdk->advance(2);
  EXPECT_TRUE(f.sent("SET_PROPERTY").empty());
  f.suite().set("CUSTOM_PROPERTY_REQUEST_AT", Value(std::int64_t{5}));
  f.sdk->port().lifecycle->send(AppNotification::didEnterBackground);
  f.sdk->advance(1.1);
  EXPECT_EQ(f.sent("SET_PROPERTY"), std::vector<Value>{Value(ValueDict{{"k", "v"}})});
  EXPECT_EQ(f.mark(), 0);
}

TEST(OrvexMetricsTest, UserChangeClearsPropertiesQueuedBeforeIt) {
  MetricsFixture f;
  OrvexMetrics::setProperty("old", true);
  Orvex::setUID("another-user");
  f.sdk->advance(0);
  EXPECT_TRUE(OrvexMetrics::properties().empty());
}

// Page tracking is accepted from any thread, before and after initialization, and does nothing.
TEST(OrvexMetricsTest, PageTrackingSendsAndStoresNothing) {
  MetricsFixture f(/*initialize=*/false);
  OrvexPageTracker::track("", "");
  Orvex::initialize(false, false);
  f.sdk->advance(0);
  const auto before = f.http->requests().size();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < 100; ++i) {
        OrvexPageTracker::track("key", "screen " + std::to_string(i));
        OrvexPageTracker::attach("key", i % 2 ? "" : "unit", "");
      }
    });
  }
  for (auto& thread : threads) thread.join();
  f.sdk->advance(60);
  EXPECT_EQ(f.http->requests().size(), before);
}

}  // namespace
}  // namespace orvex
