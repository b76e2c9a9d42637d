// Codes, text helpers and the JSON module: the small pieces every request depends on.
#include <gtest/gtest.h>

#include "orvex/core/codes.h"
#include "orvex/core/crypto.h"
#include "orvex/core/json.h"
#include "orvex/core/text.h"

namespace orvex {
namespace {

TEST(CodesTest, TextsAndRawValues) {
  EXPECT_EQ(OrvexErrorCodeToString(OrvexErrorCode::adBackfillNoFill),
            "ERROR_CODE_AD_BACKFILL_NO_FILL");
  EXPECT_EQ(keyString(OrvexErrorCode::accountUsageLimitExceeded),
            "ERROR_CODE_ACCOUNT_USAGE_LIMIT_EXCEEDED");
  for (int raw = 0; raw <= 14; ++raw) ASSERT_TRUE(errorCodeFromRaw(raw)) << raw;
  EXPECT_FALSE(errorCodeFromRaw(15));
  EXPECT_FALSE(errorCodeFromRaw(-1));
  EXPECT_EQ(keyString(OrvexMetricCode::adImpr), "AD_IMPR");
  EXPECT_EQ(keyString(OrvexMetricCode::setProperty), "SET_PROPERTY");
  EXPECT_TRUE(metricCodeFromRaw(13));
  EXPECT_FALSE(metricCodeFromRaw(14));
  EXPECT_EQ(themeFromText("Dark"), OrvexTheme::dark);
  EXPECT_EQ(themeFromText("AUTO"), OrvexTheme::automatic);
  EXPECT_EQ(themeFromText("sepia"), OrvexTheme::light);
  EXPECT_EQ(themeText(OrvexTheme::automatic), "auto");
}

TEST(TextTest, DecimalParsingAndFormatting) {
  EXPECT_EQ(parseInt64OrZero("+42"), 42);
  EXPECT_EQ(parseInt64OrZero("-9223372036854775808"), INT64_MIN);
  for (const char* bad : {"9223372036854775808", "12a", "", "+", " 1"}) {
    EXPECT_EQ(parseInt64OrZero(bad), 0) << bad;
  }
  EXPECT_EQ(formatDouble(844), "844.0");
  EXPECT_EQ(formatDouble(0.1), "0.1");
  EXPECT_EQ(describeList({"KR", "us"}), "[\"KR\", \"us\"]");
  EXPECT_EQ(describeList({}), "[]");
  EXPECT_EQ(splitNonEmpty("_ko__KR_", '_'), (std::vector<std::string>{"ko", "KR"}));
  EXPECT_EQ(utf8Length("한국"), 2u);
  EXPECT_FALSE(isValidUtf8("\xff"));
}

TEST(JsonTest, WritesLikeThePlatformSerializer) {
  json::WriteOptions slashes;
  slashes.escapeSlashes = true;
  EXPECT_EQ(json::write(Value(ValueDict{{"uid", "a/b\"c\\\n\x01한"}}), slashes),
            "{\"uid\":\"a\\/b\\\"c\\\\\\n\\u0001한\"}");
  EXPECT_EQ(json::write(Value(ValueDict{{"u", "a/b"}})), "{\"u\":\"a/b\"}");
}

TEST(JsonTest, ParsesNumbersStrictlyAndRefusesHostileInput) {
  auto v = json::parse("{\"i\": 7, \"r\": 7.5, \"big\": 18446744073709551616}");
  ASSERT_TRUE(v);
  EXPECT_TRUE(v->find("i")->asInt());
  EXPECT_TRUE(v->find("r")->asReal());
  EXPECT_TRUE(v->find("big")->asReal());
  std::string error;
  EXPECT_FALSE(json::parse(std::string(100000, '['), &error));
  EXPECT_FALSE(error.empty());
  for (const char* bad : {"{} trailing", "\"\xff\"", ""}) EXPECT_FALSE(json::parse(bad)) << bad;
}

TEST(CryptoTest, DigestsAndBase64) {
  EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(base64Encode(std::string_view("hi?")), "aGk/");
  EXPECT_FALSE(base64Decode("aGk"));
  EXPECT_FALSE(base64Decode("a*k/"));
  EXPECT_EQ(crc32("123456789"), 0xCBF43926u);
}

}  // namespace
}  // namespace orvex
