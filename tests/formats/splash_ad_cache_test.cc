#include "orvex/formats/fullscreen/orvex_splash_ad_cache.h"

#include <gtest/gtest.h>

#include <chrono>

#include "orvex/core/orvex.h"
#include "tests/support/scripted_http.h"
#include "tests/support/test_sdk.h"

namespace orvex {
namespace {

using testing_support::ScriptedHttpClient;
using testing_support::TempDir;
using testing_support::TestSdk;
using testing_support::TestSdkOptions;

double nowMillis() {
  auto t = Orvex::shared().platform().clock->now().time_since_epoch();
  return static_cast<double>(std::chrono::duration_cast<std::chrono::milliseconds>(t).count());
}

AdRes ad(const std::string& id, std::optional<std::string> creative, std::optional<double> start,
         std::optional<double> end) {
  AdRes a;
  a.id = id;
  a.creative = std::move(creative);
  a.campaignStartTime = start;
  a.campaignEndTime = end;
  return a;
}

class SplashCache : public ::testing::Test {
 protected:
  SplashCache() : http_(std::make_shared<ScriptedHttpClient>()), sdk_(dir_.path(), options()) {
    http_->respondToDownloads(
        [](const HttpRequest&) { return ScriptedHttpClient::answer(200, "not an image"); });
  }
  TestSdkOptions options() {
    TestSdkOptions o;
    o.http = http_;
    return o;
  }

  TempDir dir_;
  std::shared_ptr<ScriptedHttpClient> http_;
  TestSdk sdk_;
};

TEST_F(SplashCache, SelectionHonoursExclusiveWindowsAndTestUnits) {
  sdk_.advance(0.0004);  // a fraction of a millisecond: bounds compare whole ones
  const double now = nowMillis();
  auto cache = OrvexSplashAdCache::create("unit");
  std::vector<AdRes> ads = {ad("noCreative", "", now - 10, now + 10),
                            ad("startsNow", "https://c/1.png", now, now + 10),
                            ad("over", "https://c/2.png", now - 10, now),
                            ad("open", "https://c/3.png", now - 1, now + 1)};
  EXPECT_EQ(cache->selectAd(ads)->id, "open");
  ads.pop_back();
  EXPECT_FALSE(cache->selectAd(ads));
  auto test = OrvexSplashAdCache::create("x_PUBLIC_TEST_UNIT_ID_y");
  EXPECT_EQ(test->selectAd(ads)->id, "startsNow");
}

TEST_F(SplashCache, EachStartTakesTheNextAdAndRenewsTheRecord) {
  const double now = nowMillis();
  auto writer = OrvexSplashAdCache::create("unit");
  writer->saveAds({ad("a", "https://c/a.png", now - 1, now + 1e9),
                   ad("bad", "not a url", now - 1, now + 1e9),
                   ad("b", "https://c/b.png", now - 1, now + 1e9)});
  sdk_.advance(0.1);
  EXPECT_EQ(http_->downloads().size(), 2u);  // prefetched, the bad one dropped

  auto first = OrvexSplashAdCache::create("unit");
  first->loadStoredAd();
  EXPECT_EQ(first->cachedAdRes()->id, "a");
  sdk_.advance(0.1);
  EXPECT_FALSE(first->adImage());  // the bytes do not decode
  auto second = OrvexSplashAdCache::create("unit");
  second->loadStoredAd();
  EXPECT_EQ(second->cachedAdRes()->id, "b");
  auto third = OrvexSplashAdCache::create("unit");
  third->loadStoredAd();
  EXPECT_FALSE(third->cachedAdRes());
}

TEST_F(SplashCache, StalenessAndUndecodableRecords) {
  auto cache = OrvexSplashAdCache::create("unit");
  EXPECT_TRUE(cache->isStale());
  cache->saveAds({});
  sdk_.advance(6 * 86400);
  EXPECT_FALSE(cache->isStale());
  sdk_.advance(86400 + 1);
  EXPECT_TRUE(cache->isStale());

  auto suite = sdk_.port().platform.store->suite(OrvexSplashAdCache::kModuleName);
  const std::string garbage = "{\"ads\": [{\"id\": 5}], \"updatedAt\": 1}";
  suite->set("unit", Value(Bytes(garbage.begin(), garbage.end())));
  EXPECT_TRUE(cache->isStale());
  cache->loadStoredAd();
  EXPECT_FALSE(cache->cachedAdRes());
  EXPECT_TRUE(sdk_.loggedStartingWith("Orvex::OrvexSplashAdCache Failed to decode object: "));
}

}  // namespace
}  // namespace orvex
