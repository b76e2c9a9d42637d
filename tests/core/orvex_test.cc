#include "orvex/core/orvex.h"

#include <gtest/gtest.h>

#include "orvex/core/device.h"
#include "orvex/core/orvex_config.h"
#include "ports/linux/lifecycle.h"
#include "tests/support/test_sdk.h"

namespace orvex {
namespace {

using testing_support::TempDir;
using testing_support::TestSdk;
using testing_support::TestSdkOptions;

TestSdkOptions withLanguage(const std::string& language) {
  TestSdkOptions o;
  o.preferredLanguages = {language};
  return o;
}

const std::string kWarning =
    "Orvex::Orvex ⚠️ !!ATTENTION!! ⚠️ \nOrvex is not in production mode. \nPlease make "
    "sure "
    "that "
    "the Orvex SDK is set to production mode before deployment. \nLearn more: ";

TEST(OrvexInitializeTest, TargetCountryPassesAndLogsTheListAsPassedAndASecondCallChangesNothing) {
  TempDir dir;
  TestSdk sdk(dir.path(), withLanguage("ko-KR"));
  Orvex::initialize(false, true, std::vector<std::string>{"kr"});
  EXPECT_TRUE(Orvex::shared().isTargetDevice());
  EXPECT_TRUE(Orvex::useInAppBrowser());
  EXPECT_TRUE(
      sdk.logged("Orvex::Orvex Orvex.initialize(production: false, useInAppBrowser: true, "
                 "targetCountries: [\"kr\"])"));
  EXPECT_TRUE(sdk.logged(kWarning + Orvex::shared().platform().deployment.developerGuideUrl));
  EXPECT_TRUE(
      sdk.logged("Orvex::Orvex ℹ️ OrvexAdsBackfill module not found - backfill disabled"));

  const auto lines = sdk.logLines().size();
  Orvex::initialize(true, false, std::vector<std::string>{"ZZ"});
  EXPECT_FALSE(Orvex::isProduction());
  EXPECT_TRUE(Orvex::useInAppBrowser());
  EXPECT_TRUE(Orvex::shared().isTargetDevice());
  EXPECT_EQ(sdk.logLines().size(), lines);
}

TEST(OrvexInitializeTest, BareLanguageIsTakenAsTheCountry) {
  TempDir dir;
  TestSdk sdk(dir.path(), withLanguage("en"));
  Orvex::initialize(false, true, std::vector<std::string>{"kr", "Us"});
  EXPECT_TRUE(Orvex::shared().initialized());
  EXPECT_FALSE(Orvex::shared().isTargetDevice());
  EXPECT_FALSE(Orvex::useInAppBrowser());  // the procedure stopped before the flags were set
  EXPECT_EQ(sdk.logLines(),
            (std::vector<std::string>{"Orvex::Orvex Orvex deactivated. currentCountry: EN "
                                      "targetCountries: [\"KR\", \"US\"]"}));
}

TEST(OrvexInitializeTest, EmptyOrMissingListAndEmptyLocaleSkipTheCheck) {
  for (auto list : {std::optional<std::vector<std::string>>{},
                    std::optional<std::vector<std::string>>{std::vector<std::string>{}}}) {
    TempDir dir;
    TestSdk sdk(dir.path(), withLanguage("fr-FR"));
    Orvex::initialize(false, false, list);
    EXPECT_TRUE(Orvex::shared().isTargetDevice());
    EXPECT_TRUE(sdk.logged(std::string("Orvex::Orvex Orvex.initialize(production: false, "
                                       "useInAppBrowser: false, targetCountries: ") +
                           (list ? "[]" : "nil") + ")"));
  }
  TempDir dir;
  TestSdkOptions options;
  options.preferredLanguages = {};
  TestSdk sdk(dir.path(), options);
  Orvex::initialize(false, false, std::vector<std::string>{"KR"});
  EXPECT_TRUE(Orvex::shared().isTargetDevice());
}

TEST(OrvexInitializeTest, LogsAreLiteralUntilProductionSilencesThemButLoggersStillRecord) {
  TempDir dir;
  TestSdk sdk(dir.path());
  SimpleLogger logger("Probe");
  logger.log("%@ %s %n");
  EXPECT_EQ(sdk.logLines(), std::vector<std::string>{"Orvex::Probe %@ %s %n"});
  Orvex::initialize(true, false);
  logger.log("100%@ done %d");
  EXPECT_EQ(logger.lastMessage(), "100%@ done %d");
  EXPECT_EQ(sdk.logLines().size(), 1u);
  EXPECT_NE(Orvex::shared().logger().lastMessage().find("backfill"), std::string::npos);
}

TEST(OrvexOperationsTest, CallsBeforeInitializeAreLoggedAndIgnored) {
  TempDir dir;
  TestSdk sdk(dir.path());
  Orvex::setUID("someone");
  Orvex::setTheme(OrvexTheme::dark);
  EXPECT_TRUE(
      sdk.logged("Orvex::Orvex setUID function can only be used after calling initialize."));
  EXPECT_TRUE(
      sdk.logged("Orvex::Orvex setTheme function can only be used after calling initialize."));
  EXPECT_EQ(Orvex::shared().config().themeMode(), OrvexTheme::automatic);
  EXPECT_EQ(Orvex::sdkVersion(), "1.7.0");
}

TEST(OrvexOperationsTest, ThemeChangeDropsTheSplashCacheAndBackgroundEndsItsTask) {
  TempDir dir;
  TestSdk sdk(dir.path());
  Orvex::initialize(false, false);
  auto& provider = *Orvex::shared().platform().store;
  provider.suite("io.orvex.OrvexSplashAdCache")->set("unit", "cached");
  Orvex::setTheme(OrvexTheme::automatic);  // no change: the cache stays
  EXPECT_EQ(provider.suite("io.orvex.OrvexSplashAdCache")->string("unit"), "cached");
  Orvex::setTheme(OrvexTheme::dark);
  EXPECT_FALSE(provider.suite("io.orvex.OrvexSplashAdCache")->value("unit"));
  EXPECT_EQ(provider.standard()->string("orvex_themeMode"), "dark");

  provider.suite("io.orvex.metrics")->set("CUSTOM_PROPERTY_REQUEST_AT", Value(std::int64_t{5}));
  sdk.port().lifecycle->send(AppNotification::didEnterBackground);
  sdk.advance(0);
  for (const auto& name : sdk.port().lifecycle->activeBackgroundTaskNames())
    EXPECT_NE(name, "flushPendingProperties");
}

int gActivations = 0;

TEST(BackfillRegistryTest, FirstRegisteredNameIsActivated) {
  TempDir dir;
  TestSdk sdk(dir.path());
  BackfillModuleRegistry::add("OrvexBackfill", [] { gActivations += 10; });
  BackfillModuleRegistry::add("OrvexAdsBackfill.OrvexBackfill", [] { gActivations += 1; });
  Orvex::initialize(false, false);
  EXPECT_EQ(gActivations, 1);
  EXPECT_TRUE(
      sdk.logged("Orvex::Orvex 🔄 OrvexAdsBackfill automatically activated via "
                 "OrvexAdsBackfill.OrvexBackfill"));
  // The registry is the process's: later tests in this process must not find these.
  BackfillModuleRegistry::remove("OrvexBackfill");
  BackfillModuleRegistry::remove("OrvexAdsBackfill.OrvexBackfill");
}

TEST(DeviceTest, FactsAndInfoText) {
  TempDir dir;
  TestSdk sdk(dir.path(), withLanguage("zh"));
  const Device& device = Orvex::shared().device();
  EXPECT_EQ(device.locale, "zh");
  EXPECT_EQ(device.platform, "ios");
  EXPECT_EQ(device.adId, "");  // tracking not authorized
  EXPECT_NE(device.infoJson().find("\"adId\":\"\""), std::string::npos);
  EXPECT_NE(device.infoJson().find("\"deviceWidth\":390"), std::string::npos);
  EXPECT_EQ(device.info().find("\"adId\""), std::string::npos);
  EXPECT_NE(device.info().find("\\\"adId\\\":\\\"\\\""), std::string::npos);
  EXPECT_EQ(Device::localeFrom({"ko-KR", "en"}), "ko_KR");
  EXPECT_EQ(Device::localeFrom({"\xff\xfe"}), "");
  EXPECT_EQ(Device::localeFrom({}), "");
}

}  // namespace
}  // namespace orvex
