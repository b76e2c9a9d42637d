#include "orvex/core/orvex_config.h"

#include <gtest/gtest.h>
// The deprecated method table is the one way to make OpenSSL's generator fail on demand.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/rand.h>

#include "orvex/core/crypto.h"
#include "orvex/core/ulid.h"
#include "tests/support/test_sdk.h"

namespace orvex {
namespace {

using testing_support::makeJwt;
using testing_support::TempDir;
using testing_support::TestSdk;
using testing_support::TestSdkOptions;

TestSdkOptions withKey(const std::string& key) {
  TestSdkOptions o;
  o.serviceFile = R"({"app_key":")" + key + "\"}";
  return o;
}

KeyValueStore& defaults() {
  return *Orvex::shared().platform().store->standard();
}
KeyValueStore& metrics() {
  return *Orvex::shared().platform().store->suite("io.orvex.metrics");
}

TEST(OrvexConfigTest, FirstLaunchWritesEveryKey) {
  TempDir dir;
  const std::string key = makeJwt(R"({"platform":"ios"})");
  TestSdk sdk(dir.path(), withKey(key));
  OrvexConfig& config = Orvex::shared().config();
  EXPECT_TRUE(ULID::fromString(config.uid()));
  EXPECT_EQ(defaults().string("orvex_uid"), config.uid());
  EXPECT_EQ(defaults().string("orvex_appKey"), key);
  EXPECT_EQ(defaults().string("orvex_displayTag"), std::string(kDefaultDisplayTag));
  EXPECT_EQ(defaults().string("orvex_displayTagMacro"), "<%= data.markup %>");
  EXPECT_EQ(defaults().string("orvex_lastConfigAt"), "0");
  EXPECT_EQ(defaults().string("orvex_serverTimestamp"), "0");
  EXPECT_EQ(defaults().boolean("orvex_active"), true);
  EXPECT_EQ(defaults().string("orvex_playerVersion"), "v0.0.13");
  EXPECT_EQ(defaults().string("orvex_themeMode"), "auto");
  EXPECT_EQ(metrics().dictionary("CUSTOM_PROPERTY"), ValueDict{});
}

TEST(OrvexConfigTest, UidSurvivesRelaunchAndChangesWithTheAppKey) {
  TempDir dir;
  const std::string first = makeJwt(R"({"platform":"ios","app":"1"})");
  const std::string second = makeJwt(R"({"platform":"ios","app":"2"})");
  std::string uid;
  {
    TestSdk sdk(dir.path(), withKey(first));
    uid = Orvex::shared().config().uid();
    metrics().set("CUSTOM_PROPERTY", Value(ValueDict{{"level", 3}}));
    Orvex::shared().config().setDisplayTag("<p><%= data.markup %></p>");
    Orvex::shared().platform().store->flush();
  }
  {
    TestSdk sdk(dir.path(), withKey(first));
    EXPECT_EQ(Orvex::shared().config().uid(), uid);
    EXPECT_EQ(Orvex::shared().config().displayTag(), "<p><%= data.markup %></p>");
    EXPECT_EQ(metrics().dictionary("CUSTOM_PROPERTY"), (ValueDict{{"level", 3}}));
    Orvex::shared().platform().store->flush();
  }
  {
    TestSdk sdk(dir.path(), withKey(second));
    std::string fresh = Orvex::shared().config().uid();
    EXPECT_NE(fresh, uid);
    EXPECT_TRUE(ULID::fromString(fresh));
    EXPECT_EQ(defaults().string("orvex_appKey"), second);
    EXPECT_EQ(metrics().dictionary("CUSTOM_PROPERTY"), ValueDict{});
  }
}

TEST(OrvexConfigTest, MalformedStoredValuesFallBack) {
  TempDir dir;
  {
    TestSdk sdk(dir.path());
    Orvex::shared().config();
    defaults().set("orvex_lastConfigAt", "12a");
    defaults().set("orvex_serverTimestamp", Value(std::int64_t{99}));  // not text
    defaults().set("orvex_themeMode", "Dark");
    defaults().set("orvex_active", "false");  // not a Bool
    defaults().set("orvex_displayTag", Value(Bytes{1, 2}));
    Orvex::shared().platform().store->flush();
  }
  {
    TestSdk sdk(dir.path());
    OrvexConfig& config = Orvex::shared().config();
    EXPECT_EQ(config.lastConfigAt(), 0);
    EXPECT_EQ(config.serverTimestamp(), 0);
    EXPECT_EQ(config.themeMode(), OrvexTheme::dark);
    EXPECT_EQ(defaults().string("orvex_themeMode"), "dark");
    EXPECT_TRUE(config.active());
    EXPECT_EQ(defaults().boolean("orvex_active"), true);
    EXPECT_EQ(config.displayTag(), kDefaultDisplayTag);
    config.setThemeMode(OrvexTheme::automatic);
    Orvex::shared().platform().store->flush();
  }
  {
    TestSdk sdk(dir.path());
    defaults().set("orvex_themeMode", "sepia");
    EXPECT_EQ(OrvexConfig(Orvex::shared().platform()).themeMode(), OrvexTheme::light);
  }
}

TEST(OrvexConfigTest, WithoutSecureRandomnessNoUserIdIsStoredUntilALaunchHasIt) {
  TempDir dir;
  {
    RAND_METHOD failing{};
    failing.bytes = [](unsigned char*, int) { return 0; };
    failing.status = [] { return 1; };
    ASSERT_EQ(RAND_set_rand_method(&failing), 1);
    TestSdk sdk(dir.path());
    EXPECT_EQ(Orvex::shared().config().uid(), "");
    EXPECT_TRUE(sdk.logged("Orvex::OrvexConfig no secure random bytes for a new user id"));
    RAND_set_rand_method(nullptr);
    EXPECT_FALSE(defaults().string("orvex_appKey"));
    Orvex::shared().platform().store->flush();
  }
  TestSdk sdk(dir.path());
  EXPECT_TRUE(ULID::fromString(Orvex::shared().config().uid()));
}

TEST(OrvexConfigTest, SetUidStoresTheDigestOfThePlatformJson) {
  TempDir dir;
  TestSdk sdk(dir.path());
  Orvex::initialize(false, false);
  OrvexConfig& config = Orvex::shared().config();
  metrics().set("CUSTOM_PROPERTY", Value(ValueDict{{"k", "v"}}));

  // Computed independently: the compact JSON the platform serializer writes, slashes escaped.
  const std::string expected = sha256Hex(R"({"uid":"user\/42 \"q\"\\é"})");
  Orvex::setUID("user/42 \"q\"\\é");
  EXPECT_EQ(config.uid(), expected);
  EXPECT_EQ(defaults().string("orvex_uid"), expected);
  EXPECT_EQ(metrics().dictionary("CUSTOM_PROPERTY"), ValueDict{});
  EXPECT_EQ(sha256Hex(R"({"uid":"abc"})"), OrvexConfig::uidDigest("abc"));

  // The same id again is no change: the custom properties set since stay.
  metrics().set("CUSTOM_PROPERTY", Value(ValueDict{{"k", "v"}}));
  Orvex::setUID("user/42 \"q\"\\é");
  EXPECT_EQ(metrics().dictionary("CUSTOM_PROPERTY"), (ValueDict{{"k", "v"}}));
  Orvex::setUID("");
  EXPECT_EQ(config.uid(), expected);
}

TEST(OrvexConfigTest, RequestThemeFollowsTheScreenOnAutoAndEmptyAssignmentsStayInMemory) {
  TempDir dir;
  TestSdkOptions options;
  options.interfaceStyle = InterfaceStyle::dark;
  TestSdk sdk(dir.path(), options);
  OrvexConfig& config = Orvex::shared().config();
  EXPECT_EQ(config.requestTheme(), "dark");
  config.setThemeMode(OrvexTheme::light);
  EXPECT_EQ(config.requestTheme(), "light");
  EXPECT_EQ(config.questURL(), "https://" + Orvex::shared().platform().deployment.questHost);

  config.setPlayerVersion("v1.0.0");
  config.setPlayerVersion("");
  EXPECT_EQ(config.playerVersion(), "");
  EXPECT_EQ(defaults().string("orvex_playerVersion"), "v1.0.0");
}

}  // namespace
}  // namespace orvex
