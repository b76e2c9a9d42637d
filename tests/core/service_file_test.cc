#include "orvex/core/service_file.h"

#include <gtest/gtest.h>

#include <fstream>

#include "orvex/core/orvex_config.h"
#include "tests/support/test_sdk.h"

namespace orvex {
namespace {

using testing_support::makeJwt;
using testing_support::TempDir;
using testing_support::TestSdk;
using testing_support::TestSdkOptions;

const std::string kAndroidMessage =
    "Orvex::OrvexConfig ⛔️ Invalid Orvex App Key Detected!\n- Reason: Expected platform 'ios', "
    "but got 'android'\n- The 'orvex_service.json' file may be for a different platform (e.g., "
    "Android).\n- Please make sure you are using the correct file for this app.";
const std::string kNoPlatformMessage =
    "Orvex::OrvexConfig ⛔️ Invalid Orvex App Key Detected!\n- Reason: App key validation "
    "failed (no platform found).\n- Please ensure that the correct 'orvex_service.json' file is "
    "being used.";

TEST(JWTTest, PayloadPaddingAndFailures) {
  // "{"a":1}" is 7 bytes: base64url without padding leaves remainder 2 and needs "==".
  auto token = makeJwt("{\"a\":1}");
  auto payload = JWT::decodePayload(token);
  ASSERT_TRUE(payload);
  EXPECT_EQ(*payload->at("a").asInt(), 1);
  // The payloads' base64 forms hold "/" and "+", so their tokens carry "_" and "-".
  auto slash = makeJwt(R"({"k":"???"})");
  auto plus = makeJwt(R"({"k":"~~~"})");
  ASSERT_NE(slash.find('_'), std::string::npos);
  ASSERT_NE(plus.find('-'), std::string::npos);
  EXPECT_EQ(*JWT::decodePayload(slash)->at("k").asString(), "???");
  EXPECT_EQ(*JWT::decodePayload(plus)->at("k").asString(), "~~~");
  EXPECT_FALSE(JWT::decodePayload("no-dots-here"));
  EXPECT_FALSE(JWT::decodePayload("a.!!!.c"));
  EXPECT_FALSE(JWT::decodePayload(makeJwt("[1,2]")));  // not an object
  EXPECT_FALSE(JWT::decodePayload(makeJwt("{broken")));
  EXPECT_TRUE(JWT::decodePayload(makeJwt("{}").substr(0, makeJwt("{}").rfind('.'))));
}

TEST(ServiceFileTest, KeyLookupOrder) {
  EXPECT_EQ(appKeyFromServiceText(R"({"app_key":"b","com.example.host":"a"})", "com.example.host"),
            "a");
  EXPECT_EQ(appKeyFromServiceText(R"({"app_key":"b","com.example.host":7})", "com.example.host"),
            "b");
  EXPECT_FALSE(appKeyFromServiceText(R"({"app_key":1})", "x"));
  EXPECT_FALSE(appKeyFromServiceText("[\"app_key\"]", "x"));
  EXPECT_FALSE(appKeyFromServiceText("not json", "x"));
}

struct KeyCase {
  std::string serviceFile;
  std::string expectedKey;  // empty: rejected
  std::string expectedLog;  // empty: none of the invalid-key lines
};

TEST(ServiceFileTest, AppKeysAreValidatedAndWarnedAboutInProductionToo) {
  const std::string ios = makeJwt(R"({"platform":"ios"})");
  const std::string none = makeJwt(R"({"app":"x"})");
  const std::string numeric = makeJwt(R"({"platform":3})");
  const std::string android = makeJwt(R"({"platform":"android"})");
  const KeyCase cases[] = {
      {R"({"app_key":")" + ios + "\"}", ios, ""},
      {R"({"app_key":")" + none + "\"}", none, ""},
      {R"({"app_key":")" + numeric + "\"}", numeric, ""},
      {R"({"app_key":")" + android + "\"}", "", kAndroidMessage},
      {R"({"app_key":"not-a-jwt"})", "", kNoPlatformMessage},
      {"\x01garbage", "", ""},
  };
  // Production silences the log, but not these warnings.
  for (bool production : {false, true}) {
    for (const auto& c : cases) {
      TempDir dir;
      TestSdkOptions options;
      options.serviceFile = c.serviceFile;
      TestSdk sdk(dir.path(), options);
      if (production) Orvex::initialize(true, false);
      EXPECT_EQ(Orvex::shared().config().appKey(), c.expectedKey) << c.serviceFile;
      EXPECT_EQ(sdk.logged(kAndroidMessage), c.expectedLog == kAndroidMessage);
      EXPECT_EQ(sdk.logged(kNoPlatformMessage), c.expectedLog == kNoPlatformMessage);
    }
  }
}

TEST(ServiceFileTest, FindsTheFileByItsNameAndReportsWhatItCouldNotRead) {
  const std::string key = makeJwt(R"({"platform":"ios"})");
  const std::string keyFile = R"({"app_key":")" + key + "\"}";
  struct Case {
    const char* name;  // none: no file at all
    std::string text;  // "/dev/zero": a link to that endless device
    bool found;
  };
  const Case cases[] = {{"orvex_service-2.json", keyFile, true},
                        {"orvex_service_old.json", "{}", false},
                        {nullptr, "", false},
                        {"orvex_service.json", "/dev/zero", false},
                        {"orvex_service.json", keyFile + std::string(64 << 10, ' '), false}};
  for (const auto& c : cases) {
    TempDir dir;
    TestSdkOptions options;
    options.serviceFile.reset();
    TestSdk sdk(dir.path(), options);
    const auto file = sdk.resources() / (c.name ? c.name : "none");
    if (c.text == "/dev/zero") {
      std::filesystem::create_symlink(c.text, file);
    } else if (c.name) {
      std::ofstream(file) << c.text;
    }
    EXPECT_EQ(Orvex::shared().config().appKey(), c.found ? key : "") << file;
    if (c.found) continue;
    EXPECT_EQ(sdk.logged("Orvex::OrvexConfig NOT FOUND: file://" + file.string()), bool(c.name));
    EXPECT_TRUE(sdk.logged("Orvex::OrvexConfig NOT FOUND orvex_service.json")) << file;
  }
}

}  // namespace
}  // namespace orvex
