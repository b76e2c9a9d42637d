#include "orvex/server/documents.h"

#include <gtest/gtest.h>

#include "orvex/core/json.h"
#include "orvex/server/graphql_text.h"

namespace orvex {
namespace {

// Rebuilt from the selection table, independent of the builder's literal.
std::string expectedSelection() {
  std::string s = "\"\n}) {";
  const auto fields = [&](std::initializer_list<const char*> names) {
    for (std::string name : names) s += "\n" + (name.empty() ? "" : "        " + name);
  };
  const auto block = [&](const std::string& name, std::initializer_list<const char*> names) {
    s += "\n        " + name + " {";
    for (std::string field : names) s += "\n            " + field;
    s += "\n        }";
  };
  fields({"id", "format", "creative", "portrait", "asset", "", "icon", "advertiser",
          "advertiserURL", "body", "headline", "callToAction", "destinationURL", "accountTag",
          "creativeTag", ""});
  block("profile", {"displayLogo", "displayName", "link"});
  block("extra", {"id", "text"});
  block("creativeSize", {"w", "h"});
  fields({"splashCloseTime", "campaignStartTime", "campaignEndTime"});
  block("popupOptions", {"type", "template", "closeButtonPosition", "useHideForToday",
                         "useHideThisAdForToday", "useDimTapToClose", "backgroundDimOpacity"});
  fields({"cpId", "browserTarget", "limit"});
  return s + "\n    }\n}";
}

AdRequestFacts plainFacts() {
  AdRequestFacts f;
  f.uid = "01HUID", f.unitId = "unit-1", f.contextId = "ctx-9", f.locale = "en_US";
  f.timeZone = "Asia/Seoul", f.osVersion = "17.4", f.deviceModel = "iPhone15,2";
  f.deviceHeight = 844, f.deviceWidth = 390, f.appVersion = "2.3.1", f.adId = "";
  f.portrait = true, f.reqAt = 1500, f.theme = "dark";
  return f;
}

std::string expectedHead(const std::string& field, const AdRequestFacts& f) {
  return "query MyQuery {\n  " + field + "(input: {\n    uid: \"" + f.uid + "\"\n    unit: \"" +
         f.unitId + "\",\n    lcl: \"" + f.locale + "\",\n    tz: \"" + f.timeZone +
         "\",\n    pf: \"ios\",\n    osv: \"" + f.osVersion + "\",\n    model: \"" + f.deviceModel +
         "\",\n    size: {h: 844.0, w: 390.0},\n    appv: \"" + f.appVersion +
         "\",\n    sdkv: \"1.7.0\",\n    adId: \"\",\n    portrait: true,\n    reqAt: 1500";
}

TEST(GraphqlStringTest, EscapesQuotesBackslashesAndControls) {
  EXPECT_EQ(graphqlString("plain-id_09"), "plain-id_09");
  EXPECT_EQ(graphqlString("a\"b\\c"), "a\\\"b\\\\c");
  EXPECT_EQ(graphqlString("\b\f\n\r\t"), "\\b\\f\\n\\r\\t");
  EXPECT_EQ(graphqlString(std::string("\x01\x1f", 2)), "\\u0001\\u001F");
  EXPECT_EQ(graphqlString(std::string(1, '\0')), "\\u0000");
  EXPECT_EQ(graphqlString("한국어 ü"), "한국어 ü");
}

TEST(AdDocumentTest, RequestAdAndRequestAdsAreByteExactOverTheSelectionTable) {
  EXPECT_EQ(std::string(adSelectionSet()), expectedSelection());
  const auto f = plainFacts();
  EXPECT_EQ(requestAdDocument(f), expectedHead("requestAd", f) + ",\n    contextId: \"ctx-9\"" +
                                      ",\n    theme: \"dark" + expectedSelection());
  // requestAds has no context: the bare reqAt comes right before the theme.
  EXPECT_EQ(requestAdsDocument(f),
            expectedHead("requestAds", f) + ",\n    theme: \"dark" + expectedSelection());
}

TEST(AdDocumentTest, FractionalSizesLandscapeAndSpecialCharactersAreWrittenOut) {
  auto f = plainFacts();
  f.deviceHeight = 926.5;
  f.portrait = false;
  f.unitId = "u\"1";
  f.contextId = "c\\x";
  f.locale = "en\nUS";
  f.deviceModel = "Phone \"Pro\"";
  const auto doc = requestAdDocument(f);
  for (const char* part :
       {"size: {h: 926.5, w: 390.0},", "portrait: false,\n", "unit: \"u\\\"1\",\n",
        "contextId: \"c\\\\x\",\n", "lcl: \"en\\nUS\",\n", "model: \"Phone \\\"Pro\\\"\",\n"}) {
    EXPECT_NE(doc.find(part), std::string::npos) << part;
  }
  // The literal still ends where the builder put the closing quote.
  EXPECT_EQ(doc.find('\n', doc.find("lcl: ")), doc.find("\",\n    tz:") + 2);
}

TEST(RemoteConfigDocumentTest, ByteExactAndInfoEscaped) {
  RemoteConfigFacts f{"01HUID", std::string(64, 'a'), R"({"pf":"ios","h":844.0})", true};
  EXPECT_EQ(remoteConfigDocument(f),
            "    query GetRemoteConfig {\n        getRemoteConfig(input: {\n            uid: "
            "\"01HUID\"\n            sdkv: \"1.7.0\",\n            tagHash: \"" +
                std::string(64, 'a') +
                "\",\n            metaInfo: \"{\\\"pf\\\":\\\"ios\\\",\\\"h\\\":844.0}"
                "\",\n            production: true"
                "\n        }) {\n                displayTag\n                displayTagMacro\n"
                "                active\n                resAt\n                playerVersion\n"
                "                backfills\n            }\n    }");
  f.deviceInfo = R"({"model":"a\\b"})";  // JSON holding an escaped backslash
  f.production = false;
  auto doc = remoteConfigDocument(f);
  EXPECT_NE(doc.find(R"(metaInfo: "{\"model\":\"a\\\\b\"}",)"), std::string::npos);
  EXPECT_NE(doc.find("production: false\n"), std::string::npos);
}

TEST(InvokeDocumentTest, ByteExactEscapedAndWrappedUnderQuery) {
  MetricFacts f{"01HUID", "AD_IMPR", "t1@u1", 1700000000123};
  EXPECT_EQ(invokeDocument(f),
            "mutation OrvexMutaion {\n    invoke(input: {\n        uid: \"01HUID"
            "\"\n        key: \"AD_IMPR\",\n        value: \"t1@u1\",\n        time: 1700000000123"
            "\n    }) {\n        message\n    }\n}");
  f = {"u", "k\"ey", "v\"\\", 0};
  const auto doc = invokeDocument(f);
  EXPECT_NE(doc.find("key: \"k\\\"ey\",\n"), std::string::npos);
  EXPECT_NE(doc.find("value: \"v\\\"\\\\\",\n        time: 0\n"), std::string::npos);
  // The body is a JSON object with the document as its only member.
  EXPECT_EQ(json::parse(requestBody(doc)), Value(ValueDict{{"query", doc}}));
}

}  // namespace
}  // namespace orvex
