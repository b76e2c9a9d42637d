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
    "failed "
    "(no platform found).\n- Please ensure that the correct 'orvex_service.json' file is being "
    "used.";

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

TEST(ServiceFileTest, ValidationAndMessages) {
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
  for (const auto& c : cases) {
    TempDir dir;
    TestSdkOptions options;
    options.serviceFile = c.serviceFile;
    TestSdk sdk(dir.path(), options);
    EXPECT_EQ(Orvex::shared().config().appKey(), c.expectedKey) << c.serviceFile;
    EXPECT_EQ(sdk.logged(kAndroidMessage), c.expectedLog == kAndroidMessage);
    EXPECT_EQ(sdk.logged(kNoPlatformMessage), c.expectedLog == kNoPlatformMessage);
  }
}

TEST(ServiceFileTest, InvalidKeyWarningsAreWrittenInProductionToo) {
  TempDir dir;
  TestSdkOptions options;
  options.serviceFile = R"({"app_key":")" + makeJwt(R"({"platform":"android"})") + "\"}";
  TestSdk sdk(dir.path(), options);
  Orvex::initialize(true, false);
  EXPECT_TRUE(sdk.logged(kAndroidMessage));
  EXPECT_EQ(Orvex::shared().config().appKey(), "");
}

TEST(ServiceFileTest, DirectoryWalkAndNotFoundLines) {
  const std::string key = makeJwt(R"({"platform":"ios"})");
  {
    TempDir dir;
    TestSdkOptions options;
    options.serviceFile.reset();
    TestSdk sdk(dir.path(), options);
    std::ofstream(sdk.resources() / "orvex_service-2.json") << R"({"app_key":")" + key + "\"}";
    EXPECT_EQ(Orvex::shared().config().appKey(), key);
  }
  {
    TempDir dir;
    TestSdkOptions options;
    options.serviceFile.reset();
    TestSdk sdk(dir.path(), options);
    std::ofstream(sdk.resources() / "orvex_service_old.json") << "{}";
    EXPECT_EQ(Orvex::shared().config().appKey(), "");
    auto path = (sdk.resources() / "orvex_service_old.json").string();
    EXPECT_TRUE(sdk.logged("Orvex::OrvexConfig NOT FOUND: file://" + path));
    EXPECT_TRUE(sdk.logged("Orvex::OrvexConfig NOT FOUND orvex_service.json"));
  }
  {
    TempDir dir;
    TestSdkOptions options;
    options.serviceFile.reset();
    TestSdk sdk(dir.path(), options);
    EXPECT_EQ(Orvex::shared().config().appKey(), "");
    EXPECT_TRUE(sdk.logged("Orvex::OrvexConfig NOT FOUND orvex_service.json"));
  }
}

TEST(ServiceFileTest, HugeAndSpecialFilesAreNotRead) {
  const std::string key = makeJwt(R"({"platform":"ios"})");
  for (bool device : {true, false}) {
    TempDir dir;
    TestSdkOptions options;
    options.serviceFile.reset();
    TestSdk sdk(dir.path(), options);
    const auto file = sdk.resources() / "orvex_service.json";
    if (device) {
      std::filesystem::create_symlink("/dev/zero", file);
    } else {
      std::ofstream(file) << R"({"app_key":")" + key + "\"}" << std::string(64 << 10, ' ');
    }
    EXPECT_EQ(Orvex::shared().config().appKey(), "");
    EXPECT_TRUE(sdk.logged("Orvex::OrvexConfig NOT FOUND: file://" + file.string()));
    EXPECT_TRUE(sdk.logged("Orvex::OrvexConfig NOT FOUND orvex_service.json"));
  }
}

}  // namespace
}  // namespace orvex
